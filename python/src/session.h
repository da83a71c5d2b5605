// The Python package's side of the library's process-wide state: its
// errors, the one lock every call into the libraries takes, and the open
// library (kelmo.Library) with the models it owns.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>

#include <pybind11/pybind11.h>

#include "tools/kelmo/face_landmarks.h"

namespace kelmo::python {

// A failure that Python sees as kelmo.KelmoError: `status` is the negative
// status of the call that failed, or TAVO_ERR_GENERAL for failures that no
// call reports (no face in a photo, a file that cannot be read).
class KelmoError : public std::runtime_error {
public:
    KelmoError(const std::string &message, int32_t status) : std::runtime_error(message), status_(status) {}
    int32_t status() const { return status_; }

private:
    int32_t status_;
};

// Something this build cannot do yet (kelmo.UnsupportedError, both a
// KelmoError and a NotImplementedError).
class UnsupportedError : public KelmoError {
public:
    explicit UnsupportedError(const std::string &message);
};

// Throws KelmoError "<what>: <status text>" when status is not 0.
void check(int32_t status, const std::string &what);

// The libraries take one call at a time, in any thread. Every call into them
// holds this lock; code holding it never touches a Python object.
std::mutex &libraryMutex();

// Runs f without the GIL (other Python threads go on meanwhile) and under
// the library lock. The GIL is released before the lock is taken and taken
// again after the lock is released, so a thread that waits for the lock
// while holding the GIL cannot block the thread that holds the lock.
template <class F>
auto unlocked(F &&f) {
    pybind11::gil_scoped_release released;
    std::lock_guard<std::mutex> lock(libraryMutex());
    return std::forward<F>(f)();
}

class ModelObject;

// The initialised library (TAVO_InitKelmo), of which a process has at most
// one open at a time: the state it initialises is process-wide. It stays open
// until close() or until neither its kelmo.Library nor any of its models is
// referenced any more.
class Session {
public:
    // Opens the library on a data directory (with or without its trailing
    // separator); shapePredictor names the 68-point landmark model, loaded
    // on the first landmarks() call. Lock held.
    Session(std::string dataDirectory, std::string shapePredictor);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Frees every model still alive, then TAVO_FinalizeKelmo. Lock held.
    void close();
    bool isOpen() const { return open_; }
    // Throws KelmoError when closed.
    void requireOpen() const;
    const std::string &dataDirectory() const { return dataDirectory_; }
    const std::string &shapePredictor() const { return shapePredictor_; }

    // dlib's landmark model, loaded on first use and kept. Lock held.
    cli::FaceLandmarker &landmarker();

    // The models this session frees when it closes. Lock held.
    void attach(ModelObject *model) { models_.insert(model); }
    void detach(ModelObject *model) { models_.erase(model); }

private:
    std::string dataDirectory_;
    std::string shapePredictor_;
    bool open_ = false;
    std::unique_ptr<cli::FaceLandmarker> landmarker_;
    std::set<ModelObject *> models_;
};

// The open session of the process, or null. Lock held.
Session *openSession();
// The open session; throws KelmoError naming `what` when there is none. Lock held.
Session &requireOpenSession(const char *what);

// Live model and image handles, probed through the interface (a diagnostic
// for leaks: what is alive before a piece of work is alive after it).
// Lock held.
std::pair<int, int> liveHandles();

}  // namespace kelmo::python
