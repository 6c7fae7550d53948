// Internal: the blocking forms of the asynchronous downloads operations.
#pragma once

#include <QEventLoop>
#include <QObject>

#include <optional>
#include <utility>

namespace vk61::detail {

// Calls start(context, done) and runs a local event loop until done has run;
// returns what it was given. The operation's own deadline bounds the wait.
template <typename Outcome, typename Start>
Outcome wait_for_outcome(Start&& start) {
    QObject context;
    std::optional<Outcome> outcome;
    QEventLoop loop;
    std::forward<Start>(start)(&context, [&outcome, &loop](Outcome result) {
        outcome = std::move(result);
        loop.quit();
    });
    if (!outcome) loop.exec();
    return std::move(*outcome);
}

}  // namespace vk61::detail
