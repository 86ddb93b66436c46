// serve: the line live, the report and the metrics over HTTP until a signal ends it.
#include <chrono>
#include <thread>

#include "cli/Commands.h"
#include "serve/LineServer.h"
#include "store/StoreText.h"

namespace {
// How often the command looks for a stop signal.
constexpr auto kStopLook = std::chrono::milliseconds(100);
}  // namespace

int ServeCommand(const Options& options, Console& console) {
    const std::string listen = options.listen.value_or(kDefaultListen);
    const auto address = ParseListenAddress(listen);
    if (!address) {
        return Refuse(console,
                      "--listen takes ADDR:PORT (an IPv4 address, [IPv6] or a name, and "
                      "a port), not " +
                          Quoted(listen));
    }
    ServeSettings settings;
    settings.store = options.store.value_or(kDefaultStore);
    settings.listen = *address;
    settings.allowHosts = options.allowHosts;
    if (options.streamSeconds) settings.pace.streamSeconds = *options.streamSeconds;
    const auto log = [&console](const std::string& line) { console.message("k350ctl: " + line); };
    std::unique_ptr<LineServer> server;
    try {
        server = std::make_unique<LineServer>(settings, log);
    } catch (const StoreError& error) {
        console.message(std::string("k350ctl: ") + error.what());
        return ExitStatus::File;
    } catch (const std::runtime_error& error) {
        console.message(std::string("k350ctl: ") + error.what());
        return ExitStatus::Usage;
    }
    ListenAddress shown = *address;
    shown.port = server->port();
    console.message("k350ctl: serving the line of store " + ShownLocation(settings.store) +
                    " at http://" + shown.text() + "/");
    while (console.signalsReceived() == 0) std::this_thread::sleep_for(kStopLook);
    server.reset();
    console.message("k350ctl: stopped serving");
    return ExitStatus::Ok;
}
