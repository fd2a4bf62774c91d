// What the scan and the search pass over and why: a folder that could not be listed, a file
// that could not be read or changed while it was read. The window says nothing of them (the
// program reports no errors); twinrake-find names each.
#pragma once

#include <functional>
#include <string>

namespace twinrake {

struct PassedOver {
    std::string path;
    std::string reason;  // the system's words, or what happened
};

// Called on the thread that runs the scan or the search; may be empty.
using PassedOverSink = std::function<void(const PassedOver&)>;

}  // namespace twinrake
