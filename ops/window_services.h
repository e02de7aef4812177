// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <string>

#include "link/link_log.h"

namespace orbvex {

// The services the window offers the operations: where they show what happens. The
// window, the command-line tool and the tests each implement it, so that every
// operation is written once. What an operation needs to know (port, flash, files) it
// takes as inputs, never from here.
class WindowServices : public LogSink {
public:
    // LogLine (from LogSink) appends one line to the log.
    virtual void ClearLog() = 0;
    virtual void SetAddressLabel(const std::string& text) = 0;  // Label1
    virtual void SetProgressPosition(int position) = 0;         // ProgressBar1
    virtual void SetProgressMaximum(int maximum) = 0;
    // Lets pending window messages (repaints, a click on Abort) be handled once.
    virtual void ProcessMessages() = 0;
    virtual void ShowErrorBox(const std::string& text) = 0;
    virtual void Beep(unsigned type) = 0;  // 0x40: the information sound

    // True once the operator asked to stop whatever runs, at its next safe point
    // (Ctrl-C on the command line). The window never asks: its Abort button only
    // raises AbortRequested, which Write alone heeds.
    virtual bool StopRequested() { return false; }

    // True for a front end that stops waiting at the first read of the command word
    // that shows the trap program's failure, and says why. The window waits its polls
    // out and shows the word after " ACK = ", as it always did.
    virtual bool StopAtTrapFailure() { return false; }

    // A word for a user who waits at a terminal while the target is slow to answer:
    // the log stays as it is. The window ignores it; its log already says what runs.
    virtual void StillWaiting(const std::string& text) { (void)text; }

    // Bytes moved so far of a transfer of total bytes; for front ends that show a rate
    // and time left. The window has its progress bar and ignores it.
    virtual void TransferProgress(std::uint64_t done, std::uint64_t total) {
        (void)done;
        (void)total;
    }
};

}  // namespace orbvex
