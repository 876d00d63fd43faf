#pragma once

namespace tesvano {

// Tells the judgement of a new version's start that the X display went away, before Qt or
// Xlib end the process over it: Qt's connection is watched for the server's hang-up, and an
// I/O error on any Xlib connection is noted before the handler that was there (Qt's, which
// exits) runs. Made once the application has its connection; one at a time.
class DisplayLossWatch {
public:
    DisplayLossWatch();
    ~DisplayLossWatch();
    DisplayLossWatch(const DisplayLossWatch&) = delete;
    DisplayLossWatch& operator=(const DisplayLossWatch&) = delete;
};

}  // namespace tesvano
