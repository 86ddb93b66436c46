#include "store/RunJournal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <fstream>
#include <nlohmann/json.hpp>
#include <vector>

#include "store/StoreText.h"

namespace {

using Json = nlohmann::ordered_json;

// Held while the journal is read or written, by every process that shares it.
class FileLock {
public:
    explicit FileLock(const std::string& path)
        : descriptor_(::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (descriptor_ >= 0) flock(descriptor_, LOCK_EX);
    }
    ~FileLock() {
        if (descriptor_ >= 0) ::close(descriptor_);  // releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int descriptor_;
};

Json Optional(const std::optional<double>& value) {
    return value ? Json(*value) : Json();
}

std::optional<double> OptionalOf(const Json& value) {
    return value.is_number() ? std::optional<double>(value.get<double>()) : std::nullopt;
}

Json LineOf(const RunRecord& run, const std::string& store) {
    return Json{{"store", ShownLocation(store)},
                {"key", run.key},
                {"id", run.id},
                {"die_id", run.dieId},
                {"chip_id", run.chipId},
                {"serial", run.serial},
                {"station", run.station},
                {"port", run.port},
                {"recipe", run.recipe},
                {"image_sha256", run.imageSha256},
                {"config_sha256", run.configSha256},
                {"started_at", run.startedAt},
                {"finished_at", run.finishedAt},
                {"result", run.result},
                {"failed_step", run.failedStep},
                {"error", run.error},
                {"steps", run.steps},
                {"soak_erroneous_percent", Optional(run.soakErroneousPercent)},
                {"soak_lost_percent", Optional(run.soakLostPercent)},
                {"soak_jitter_ms", Optional(run.soakJitterMs)}};
}

RunRecord RunOf(const Json& line) {
    RunRecord run;
    run.key = line.at("key").get<std::string>();
    run.id = line.value("id", std::int64_t(0));
    const auto text = [&](const char* name) { return line.value(name, std::string()); };
    run.dieId = text("die_id");
    run.chipId = text("chip_id");
    run.serial = text("serial");
    run.station = text("station");
    run.port = text("port");
    run.recipe = text("recipe");
    run.imageSha256 = text("image_sha256");
    run.configSha256 = text("config_sha256");
    run.startedAt = text("started_at");
    run.finishedAt = text("finished_at");
    run.result = text("result");
    run.failedStep = text("failed_step");
    run.error = text("error");
    run.steps = text("steps");
    run.soakErroneousPercent = OptionalOf(line.value("soak_erroneous_percent", Json()));
    run.soakLostPercent = OptionalOf(line.value("soak_lost_percent", Json()));
    run.soakJitterMs = OptionalOf(line.value("soak_jitter_ms", Json()));
    return run;
}

std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

// The run of that store a line holds; nothing for another store's or a line it cannot read,
// which stay in the journal as they are.
std::optional<RunRecord> RunFor(const std::string& line, const std::string& shownStore) {
    try {
        const Json parsed = Json::parse(line);
        if (parsed.value("store", std::string()) != shownStore) return std::nullopt;
        return RunOf(parsed);
    } catch (const Json::exception&) {
        return std::nullopt;
    }
}

void WriteAll(int descriptor, const std::string& text, const std::string& path) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t written = ::write(descriptor, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            throw StoreError("journal " + path + " cannot be written: " + std::strerror(errno));
        }
        done += std::size_t(written);
    }
    if (fsync(descriptor) != 0) {
        throw StoreError("journal " + path + " cannot be written: " + std::strerror(errno));
    }
}

// Replaces the journal with the lines left, atomically: a crash leaves the old or the new.
void Rewrite(const std::string& path, const std::vector<std::string>& lines) {
    if (lines.empty()) {
        ::unlink(path.c_str());
        return;
    }
    const std::string temporary = path + ".new";
    const int descriptor =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        throw StoreError("journal " + path + " cannot be written: " + std::strerror(errno));
    }
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    try {
        WriteAll(descriptor, text, path);
    } catch (...) {
        ::close(descriptor);
        ::unlink(temporary.c_str());
        throw;
    }
    ::close(descriptor);
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        throw StoreError("journal " + path + " cannot be written: " + std::strerror(errno));
    }
}

}  // namespace

void RunJournal::keep(const RunRecord& run, const std::string& location) {
    std::lock_guard lock(mutex_);
    const FileLock fileLock(path_);
    const int descriptor = ::open(path_.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        throw StoreError("journal " + path_ + " cannot be written: " + std::strerror(errno));
    }
    std::string line =
        LineOf(run, location).dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
    // After a line cut by a full disk, the run starts a line of its own.
    const off_t size = ::lseek(descriptor, 0, SEEK_END);
    char last = '\n';
    if (size > 0 && ::pread(descriptor, &last, 1, size - 1) == 1 && last != '\n') {
        line = "\n" + line;
    }
    try {
        WriteAll(descriptor, line, path_);
    } catch (...) {
        ::close(descriptor);
        throw;
    }
    ::close(descriptor);
    ++kept_;
}

int RunJournal::replay(RunStore& store, const std::string& location) {
    std::lock_guard lock(mutex_);
    const FileLock fileLock(path_);
    const std::string shown = ShownLocation(location);
    std::vector<std::string> left;
    int written = 0;
    std::exception_ptr failure;  // kept whole: a wait the operator stopped says so
    for (const std::string& line : Lines(path_)) {
        const auto run = failure ? std::nullopt : RunFor(line, shown);
        if (!run) {
            left.push_back(line);
            continue;
        }
        try {
            store.recordRun(*run);
            ++written;
        } catch (const StoreError&) {
            failure = std::current_exception();
            left.push_back(line);
        }
    }
    if (written > 0) Rewrite(path_, left);
    if (failure) std::rethrow_exception(failure);
    return written;
}

int RunJournal::pending(const std::string& location) const {
    const std::string shown = ShownLocation(location);
    int count = 0;
    for (const std::string& line : Lines(path_)) count += RunFor(line, shown).has_value();
    return count;
}
