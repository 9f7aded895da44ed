#pragma once

#include <rtmidi/RtMidi.h>

#include <type_traits>

// Stands for every exception type in guardedCall.
struct AnyException
{
};

// Runs call and tells whether it returned. An exception of type Swallowed ends it quietly: with
// the error callback set, the MIDI library has already reported its errors there.
template<class Swallowed = RtMidiError, class Call> bool guardedCall(Call &&call)
{
    if constexpr (std::is_same_v<Swallowed, AnyException>) {
        try {
            call();
        } catch (...) {
            return false;
        }
    } else {
        try {
            call();
        } catch (const Swallowed &) {
            return false;
        }
    }
    return true;
}
