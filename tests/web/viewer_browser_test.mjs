// The live viewer page of `kelmo demo` in headless Chromium (Debian's
// /usr/bin/chromium, driven by puppeteer-core, which downloads no browser):
// it loads from file:// with no console error and no failed request, draws
// the head (skin in the middle, the page's background at the corners), and
// its jaw_open slider opens the mouth: the lower middle of the view changes,
// the eyes' band does not.
//
//   node viewer_browser_test.mjs DEMO/index.html [SCREENSHOT_DIR]
import puppeteer from 'puppeteer-core';

const [page_, shots] = process.argv.slice(2);
const problems = [];
const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  // Root runs need --no-sandbox; WebGL comes from SwiftShader, on the CPU.
  args: ['--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--disable-gpu-sandbox'],
});
try {
  const page = await browser.newPage();
  page.on('console', (m) => { if (m.type() === 'error') problems.push('console error: ' + m.text()); });
  page.on('pageerror', (e) => problems.push('page error: ' + e.message));
  page.on('requestfailed', (r) => problems.push('failed request: ' + r.url()));
  await page.setViewport({ width: 1100, height: 760 });
  await page.goto('file://' + page_, { waitUntil: 'load' });
  const nextFrames = async () => {
    const n = await page.evaluate(() => window.kelmoViewer.frames);
    await page.waitForFunction((k) => window.kelmoViewer.frames > k + 2, { timeout: 30000 }, n);
  };
  await page.waitForFunction(() => window.kelmoViewer && (window.kelmoViewer.frames > 0 || window.kelmoViewer.error),
                             { timeout: 60000 });
  await nextFrames();
  // The drawn view's RGB pixels (the renderer keeps its drawing buffer).
  const pixels = () => page.evaluate(() => {
    const source = document.querySelector('#kelmo-viewer canvas');
    const copy = document.createElement('canvas');
    copy.width = source.width, copy.height = source.height;
    const context = copy.getContext('2d');
    context.drawImage(source, 0, 0);
    return { w: copy.width, h: copy.height, rgba: Array.from(context.getImageData(0, 0, copy.width, copy.height).data) };
  });
  const at = (p, x, y) => p.rgba.slice((y * p.w + x) * 4, (y * p.w + x) * 4 + 3);
  const box = (p, x0, y0, x1, y1, f) => {
    for (let y = Math.floor(y0 * p.h); y < y1 * p.h; ++y)
      for (let x = Math.floor(x0 * p.w); x < x1 * p.w; ++x) f(at(p, x, y), x, y);
  };
  const shut = await pixels();
  const state = await page.evaluate(() => ({ morphs: window.kelmoViewer.morphs, error: window.kelmoViewer.error }));
  if (state.error) problems.push('viewer error: ' + state.error);
  if (!['blink', 'brow_raise', 'jaw_open', 'smile'].every((m) => state.morphs.includes(m)))
    problems.push('morph sliders: ' + state.morphs.join(', '));

  // Skin: red above green above blue, and bright; the background is 6f7680.
  let skin = 0, total = 0;
  box(shut, 0.42, 0.4, 0.58, 0.55, ([r, g, b]) => { total += 1; skin += r > g && g > b && r > 140; });
  if (skin < 0.9 * total) problems.push(`skin in ${skin} of ${total} pixels of the middle`);
  for (const [x, y] of [[2, 2], [shut.w - 3, 2], [2, shut.h - 3], [shut.w - 3, shut.h - 3]])
    if (at(shut, x, y).join() !== '111,118,128') problems.push(`corner (${x}, ${y}) is ${at(shut, x, y)}`);
  if (shots) await page.screenshot({ path: shots + '/viewer_front.png', clip: await viewerClip(page) });

  await page.evaluate(() => {
    const slider = document.getElementById('morph-jaw_open');
    slider.value = '1';
    slider.dispatchEvent(new Event('input'));
  });
  await nextFrames();
  const open = await pixels();
  let mouth = 0, eyes = 0;
  const differs = (a, x, y) => Math.abs(a[0] - at(open, x, y)[0]) + Math.abs(a[1] - at(open, x, y)[1]) > 60;
  box(shut, 0.35, 0.55, 0.65, 0.8, (a, x, y) => { mouth += differs(a, x, y); });
  box(shut, 0.3, 0.3, 0.7, 0.42, (a, x, y) => { eyes += differs(a, x, y); });
  if (mouth < 1500 || eyes > 20) problems.push(`jaw_open changed ${mouth} pixels around the mouth, ${eyes} around the eyes`);
  if (shots) await page.screenshot({ path: shots + '/viewer_jaw_open.png', clip: await viewerClip(page) });
  console.log(`skin ${skin}/${total}; jaw_open changed ${mouth} pixels around the mouth, ${eyes} around the eyes`);
} catch (e) {
  problems.push(String(e && e.stack ? e.stack : e));
} finally {
  await browser.close();
}

async function viewerClip(page) {
  return page.evaluate(() => {
    const r = document.getElementById('kelmo-viewer').getBoundingClientRect();
    return { x: r.x + window.scrollX, y: r.y + window.scrollY, width: Math.min(r.width, 1000), height: r.height };
  });
}

for (const p of problems) console.log(p);
console.log(problems.length ? '0 passed, 1 failed' : '1 passed, 0 failed');
process.exit(problems.length ? 1 : 0);
