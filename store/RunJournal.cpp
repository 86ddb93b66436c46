#include "store/RunJournal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <exception>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <vector>

#include "store/MeasurementJson.h"
#include "store/StoreIdentity.h"
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
    Json line{{"store", ShownLocation(store)},
              {"store_id", StoreIdentity(store)},
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
              {"program_version", run.programVersion},
              {"operator", run.operatorName},
              {"lot", run.lot},
              {"recipe_sha256", run.recipeSha256},
              {"started_at", run.startedAt},
              {"finished_at", run.finishedAt},
              {"result", run.result},
              {"failed_step", run.failedStep},
              {"error", run.error},
              {"steps", run.steps},
              {"soak_erroneous_percent", Optional(run.soakErroneousPercent)},
              {"soak_lost_percent", Optional(run.soakLostPercent)},
              {"soak_jitter_ms", Optional(run.soakJitterMs)},
              {"measurements", MeasurementsJson(run.measurements)}};
    if (!run.hook.empty()) {
        line["hook"] = run.hook;
        line["hook_status"] = run.hookStatus;
        line["hook_output"] = run.hookOutput;
    }
    return line;
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
    run.programVersion = text("program_version");
    run.operatorName = text("operator");
    run.lot = text("lot");
    run.recipeSha256 = text("recipe_sha256");
    run.startedAt = text("started_at");
    run.finishedAt = text("finished_at");
    run.result = text("result");
    run.failedStep = text("failed_step");
    run.error = text("error");
    run.steps = text("steps");
    run.soakErroneousPercent = OptionalOf(line.value("soak_erroneous_percent", Json()));
    run.soakLostPercent = OptionalOf(line.value("soak_lost_percent", Json()));
    run.soakJitterMs = OptionalOf(line.value("soak_jitter_ms", Json()));
    run.hook = text("hook");
    run.hookStatus = text("hook_status");
    run.hookOutput = text("hook_output");
    run.measurements = MeasurementsOf(line.value("measurements", Json()));
    return run;
}

// One line of the journal as it was read: its number, its text, and the run it holds when it
// is one of this store's.
struct JournalLine {
    int number = 0;
    std::string text;
    bool damaged = false;
    std::string reason;
    std::optional<RunRecord> run;  // a run of the store asked for
};

// Whether the line's run belongs to the store: by the identity written with it, or, in a line
// of an older journal without one, by the identity of the location it names.
bool OfStore(const Json& line, const std::string& identity) {
    if (line.contains("store_id")) return line.at("store_id").get<std::string>() == identity;
    return StoreIdentity(line.at("store").get<std::string>()) == identity;
}

JournalLine Classified(int number, const std::string& text, bool ended,
                       const std::string& identity) {
    JournalLine line;
    line.number = number;
    line.text = text;
    try {
        const Json parsed = Json::parse(text);
        if (!parsed.is_object() || !parsed.at("key").is_string() ||
            parsed.at("key").get<std::string>().empty() || !parsed.at("store").is_string()) {
            throw std::invalid_argument("not a run");
        }
        if (OfStore(parsed, identity)) line.run = RunOf(parsed);
    } catch (const std::exception&) {
        line.damaged = true;
        // A power cut leaves the last line without its end.
        line.reason = !ended || text.back() != '}' ? "cut short" : "not a run the journal can read";
    }
    return line;
}

std::vector<JournalLine> ReadJournal(const std::string& path, const std::string& identity) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream whole;
    whole << in.rdbuf();
    const std::string text = whole.str();
    std::vector<JournalLine> lines;
    int number = 0;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        const bool ended = end != std::string::npos;
        const std::string line = text.substr(start, ended ? end - start : std::string::npos);
        ++number;
        if (!line.empty()) lines.push_back(Classified(number, line, ended, identity));
        start = ended ? end + 1 : text.size();
    }
    return lines;
}

[[noreturn]] void CannotWrite(const std::string& path) {
    throw StoreError("journal " + path + " cannot be written: " + std::strerror(errno));
}

void WriteAll(int descriptor, const std::string& text, const std::string& path) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t written = ::write(descriptor, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) CannotWrite(path);
        done += std::size_t(written);
    }
    if (fsync(descriptor) != 0) CannotWrite(path);
}

void WriteFile(const std::string& path, const std::string& text, int flags) {
    const int descriptor = ::open(path.c_str(), flags | O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor < 0) CannotWrite(path);
    try {
        WriteAll(descriptor, text, path);
    } catch (...) {
        ::close(descriptor);
        throw;
    }
    ::close(descriptor);
}

// Replaces the journal with the lines left, atomically: a crash leaves the old or the new.
void Rewrite(const std::string& path, const std::vector<std::string>& lines) {
    if (lines.empty()) {
        ::unlink(path.c_str());
        return;
    }
    const std::string temporary = path + ".new";
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    try {
        WriteFile(temporary, text, O_TRUNC);
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) CannotWrite(path);
}

std::string DamagedPath(const std::string& path) {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    return path + ".damaged-" + stamp;
}

// The damaged lines, as they were, into a file of their own; false when it cannot be written,
// and they stay where they are.
bool PutAside(const std::vector<JournalLine>& lines, const std::string& aside) {
    std::string text;
    for (const JournalLine& line : lines) {
        if (line.damaged) text += line.text + "\n";
    }
    if (text.empty()) return true;
    try {
        WriteFile(aside, text, O_APPEND);
        return true;
    } catch (const StoreError&) {
        return false;
    }
}

}  // namespace

void RunJournal::keep(const RunRecord& run, const std::string& location) {
    std::lock_guard lock(mutex_);
    const FileLock fileLock(path_);
    const int descriptor = ::open(path_.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        lost_.insert(run.key);
        CannotWrite(path_);
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
        lost_.insert(run.key);
        throw;
    }
    ::close(descriptor);
    ++kept_;
}

JournalReplay RunJournal::replay(RunStore& store, const std::string& location,
                                 const std::function<bool()>& stopAfterRun) {
    std::lock_guard lock(mutex_);
    const FileLock fileLock(path_);
    const std::vector<JournalLine> lines = ReadJournal(path_, StoreIdentity(location));
    JournalReplay result;
    for (const JournalLine& line : lines) {
        if (line.damaged) result.damaged.push_back({line.number, line.reason});
    }
    const std::string aside = DamagedPath(path_);
    const bool putAside = PutAside(lines, aside);
    result.damagedKeptIn = putAside ? aside : path_;
    std::vector<std::string> left;
    std::set<std::string> written;  // a run kept again with its hook's outcome is one run
    std::exception_ptr failure;     // kept whole: a wait the operator stopped says so
    for (const JournalLine& line : lines) {
        if (line.damaged && putAside) continue;
        if (!line.run || failure || result.stopped) {
            left.push_back(line.text);
            continue;
        }
        try {
            store.recordRun(*line.run);
            written.insert(line.run->key);
            result.written = int(written.size());
            result.stopped = stopAfterRun && stopAfterRun();
        } catch (const StoreError&) {
            failure = std::current_exception();
            left.push_back(line.text);
        }
    }
    if (result.written > 0 || (putAside && !result.damaged.empty())) Rewrite(path_, left);
    if (failure) std::rethrow_exception(failure);
    return result;
}

int RunJournal::lostHere() const {
    std::lock_guard lock(mutex_);
    return int(lost_.size());
}

int RunJournal::pending(const std::string& location) const {
    std::set<std::string> keys;
    for (const JournalLine& line : ReadJournal(path_, StoreIdentity(location))) {
        if (line.run) keys.insert(line.run->key);
    }
    return int(keys.size());
}
