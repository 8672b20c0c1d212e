// LinkError codes and their texts (French, as the operators know them).
#pragma once

#include <string>

enum : int {
    kErrNone = 0,
    kErrShown = -1,
    kErrTrapStart = 102,
    kErrTrapEnd = 103,
    kErrWaitStart = 104,
    kErrWaitAck = 105,
    kErrNoPeekReply = 106,
    kErrPeekLength = 107,
    kErrAckReceive = 108,
    kErrUnknown = 109,
    kErrTrapNotRunning = 110,
    kErrTrapCommand = 111,
    kErrTrapNotReady = 112,
    kErrFlashErase = 113,
    kErrLinkBusy = 114,
    kErrAllocation = 115,
    kErrFlashWrite = 116,
    kErrTrapBuffer = 117,
    kErrReadUnconfirmed = 118,  // no two reads agreed: FailAddress() names where
    kErrOutOfStep = 119,        // the DCU may have taken a part of a message: reset the board
    kErrInterrupted = 120,      // RequestStop: FailAddress() is the first address not done
};

// The text of a LinkError code (UTF-8), empty for codes without one.
std::string LinkErrorText(int id);
