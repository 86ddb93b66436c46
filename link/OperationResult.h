// How a board operation ended, with what it produced.
#pragma once

#include <variant>

#include "link/OperationObserver.h"

enum class Ending {
    Done,       // ran to its end: `value` holds what it produced
    NotOpened,  // the link did not open: nothing was exchanged
    Failed,     // `failure` ended it and the link is closed
    Stopped,    // the observer answered false, or the wait was cancelled: the link stays open
};

template <class Value = std::monostate>
struct OperationResult {
    Ending ending = Ending::Done;
    Value value{};
    Failure failure{};

    bool done() const { return ending == Ending::Done; }
    static OperationResult notOpened() { return {Ending::NotOpened, {}, {}}; }
    static OperationResult failedWith(const Failure& failure) {
        return {Ending::Failed, {}, failure};
    }
    static OperationResult stopped() { return {Ending::Stopped, {}, {}}; }
    static OperationResult doneWith(Value value) { return {Ending::Done, std::move(value), {}}; }
};
