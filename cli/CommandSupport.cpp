#include "cli/CommandSupport.h"

BoardResult OperationFailure(const CliChannel::Outcome& outcome) {
    std::string text = FailureText(outcome);
    if (text.empty()) text = "the operation did not complete";
    return {FoundNoBoard(outcome) ? ExitStatus::NoBoard : ExitStatus::Failed, text};
}

JsonObject BoardJson(const BoardSession& session, bool ok) {
    JsonObject object;
    object.add("board", session.location().text()).addBool("ok", ok);
    return object;
}

BoardResult ReportFailure(const Options& options, Console& console, const BoardSession& session,
                          const BoardResult& failure) {
    if (options.json) {
        JsonObject object = BoardJson(session, false);
        object.add("exit_status", std::int64_t(failure.status)).add("error", failure.message);
        console.data(object.str());
    }
    return failure;
}

void ShowProgress(BoardSession& session, Console& console) {
    const std::string board = session.location().text();
    session.channel().onProgress = [&console, board](std::uint32_t done, std::uint32_t total) {
        console.progress(board, done, total);
    };
}
