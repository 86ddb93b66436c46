#include "cli/CommandSupport.h"

BoardResult OperationFailure(const BoardSession& session, Ending ending) {
    std::string text = FailureText(session.observer(), ending);
    if (text.empty()) text = "the operation did not complete";
    return {FoundNoBoard(session.observer()) ? ExitStatus::NoBoard : ExitStatus::Failed, text};
}

Json BoardJson(const BoardSession& session, bool ok) {
    return {{"board", session.location().text()}, {"ok", ok}};
}

BoardResult ReportFailure(const Options& options, Console& console, const BoardSession& session,
                          const BoardResult& failure) {
    if (options.json) {
        Json object = BoardJson(session, false);
        object["exit_status"] = failure.status;
        object["error"] = failure.message;
        console.data(JsonText(object));
    }
    return failure;
}

void ShowProgress(BoardSession& session, Console& console) {
    const std::string board = session.location().text();
    session.observer().onProgress = [&console, board](std::uint32_t done, std::uint32_t total) {
        console.progress(board, done, total);
    };
}
