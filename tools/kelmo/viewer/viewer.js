// The live 3D view of a kelmo head, bundled with three.js into
// kelmo-viewer.js, which `kelmo view` and `kelmo demo` copy beside their page.
//
// The page holds the head as a GLB in base64 inside
// <script type="application/octet-stream" id="kelmo-model">, and an element
// with id "kelmo-viewer" that receives the view and its controls. Everything
// is in the page or beside it, so it works from file:// with no server: a
// classic script (module scripts are refused from file://), no fetch.
//
// What tests and hosts can read: window.kelmoViewer.frames counts the frames
// drawn, .morphs lists the morph names, .error holds the first failure.
import * as THREE from 'three';
import { OrbitControls } from 'three/examples/jsm/controls/OrbitControls.js';
import { GLTFLoader } from 'three/examples/jsm/loaders/GLTFLoader.js';

const state = { frames: 0, morphs: [], error: null, talking: false };
window.kelmoViewer = state;

function decodeBase64(text) {
  const binary = atob(text.replace(/\s+/g, ''));
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; ++i) bytes[i] = binary.charCodeAt(i);
  return bytes.buffer;
}

// The talking loop: the jaw opens and closes on syllables of uneven length
// while the smile comes and goes more slowly; both from 0 to about 0.8.
function talkingWeights(seconds) {
  const syllable = 0.5 + 0.5 * Math.sin(2 * Math.PI * 3.1 * seconds);
  const phrase = 0.5 + 0.5 * Math.sin(2 * Math.PI * 0.7 * seconds + 1.0);
  return {
    jaw_open: 0.8 * syllable * (0.4 + 0.6 * phrase),
    smile: 0.6 * (0.5 + 0.5 * Math.sin(2 * Math.PI * 0.25 * seconds)),
  };
}

function start(container) {
  const canvasHolder = document.createElement('div');
  canvasHolder.className = 'kelmo-canvas';
  const panel = document.createElement('div');
  panel.className = 'kelmo-controls';
  container.append(canvasHolder, panel);
  const width = canvasHolder.clientWidth || 640;
  const height = canvasHolder.clientHeight || 640;

  const renderer = new THREE.WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
  renderer.setPixelRatio(window.devicePixelRatio || 1);
  renderer.setSize(width, height);
  canvasHolder.appendChild(renderer.domElement);
  const scene = new THREE.Scene();
  scene.background = new THREE.Color(0x6f7680);
  const camera = new THREE.PerspectiveCamera(30, width / height, 0.01, 10);
  const controls = new OrbitControls(camera, renderer.domElement);
  controls.enableDamping = true;

  const meshes = [];
  const sliders = new Map();
  const setMorph = (name, weight) => {
    for (const mesh of meshes) {
      const k = mesh.morphTargetDictionary[name];
      if (k !== undefined) mesh.morphTargetInfluences[k] = weight;
    }
    const slider = sliders.get(name);
    if (slider && Number(slider.input.value) !== weight) slider.input.value = String(weight);
    if (slider) slider.output.textContent = weight.toFixed(2);
  };
  state.setMorph = setMorph;

  const loader = new GLTFLoader();
  const model = document.getElementById('kelmo-model');
  loader.parse(decodeBase64(model.textContent), '', (gltf) => {
    const head = gltf.scene;
    scene.add(head);
    const names = new Set();
    head.traverse((object) => {
      if (object.isMesh && object.morphTargetDictionary) {
        meshes.push(object);
        Object.keys(object.morphTargetDictionary).forEach((n) => names.add(n));
      }
    });
    state.morphs = [...names].sort();

    // Frame the face from the front (it looks down +Z): the head's box
    // reaches down the neck, and the face fills about its upper two thirds.
    const box = new THREE.Box3().setFromObject(head);
    const size = box.getSize(new THREE.Vector3());
    const centre = box.getCenter(new THREE.Vector3()).add(new THREE.Vector3(0, 0.08 * size.y, 0));
    const distance = (0.42 * Math.max(size.x, size.y)) / Math.tan(THREE.MathUtils.degToRad(camera.fov / 2));
    camera.position.set(centre.x, centre.y, centre.z + distance);
    camera.near = distance / 20;
    camera.far = distance * 20;
    camera.updateProjectionMatrix();
    controls.target.copy(centre);
    controls.minDistance = distance / 4;
    controls.maxDistance = distance * 4;
    controls.update();

    for (const name of state.morphs) {
      const row = document.createElement('label');
      const input = document.createElement('input');
      input.type = 'range';
      input.min = '0';
      input.max = '1';
      input.step = '0.01';
      input.value = '0';
      input.id = 'morph-' + name;
      const output = document.createElement('output');
      output.textContent = '0.00';
      input.addEventListener('input', () => setMorph(name, Number(input.value)));
      const label = document.createElement('span');
      label.textContent = name.replace(/_/g, ' ');
      row.append(label, input, output);
      panel.appendChild(row);
      sliders.set(name, { input, output });
    }
    const talk = document.createElement('button');
    talk.type = 'button';
    talk.id = 'kelmo-talk';
    talk.textContent = 'Talk';
    let talkStart = 0;
    talk.addEventListener('click', () => {
      state.talking = !state.talking;
      talk.textContent = state.talking ? 'Stop' : 'Talk';
      talkStart = performance.now();
      if (!state.talking) for (const name of Object.keys(talkingWeights(0))) setMorph(name, 0);
    });
    panel.appendChild(talk);

    const draw = () => {
      if (state.talking) {
        const weights = talkingWeights((performance.now() - talkStart) / 1000);
        for (const [name, weight] of Object.entries(weights)) setMorph(name, weight);
      }
      controls.update();
      renderer.render(scene, camera);
      state.frames += 1;
      requestAnimationFrame(draw);
    };
    requestAnimationFrame(draw);
  }, (error) => {
    state.error = String(error && error.message ? error.message : error);
    container.textContent = 'The head could not be shown: ' + state.error;
    console.error(error);
  });
}

const container = document.getElementById('kelmo-viewer');
if (container) start(container);
