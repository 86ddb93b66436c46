// One board as k350ctl drives it: the board operations, run on the calling thread one at a time,
// against the board at one location only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/ConfigImage.h"
#include "link/BoardLink.h"
#include "link/BoardLocation.h"
#include "link/BoardProbe.h"
#include "link/DirectObserver.h"
#include "link/FirmwareOperation.h"
#include "link/OperationResult.h"
#include "link/StatisticsOperation.h"

class BoardSession {
public:
    using Bytes = std::vector<std::uint8_t>;

    BoardSession(const BoardLocation& location, Clock& clock);
    // As the worker's exit sequence: the board is released whatever happened before.
    ~BoardSession();
    BoardSession(const BoardSession&) = delete;
    BoardSession& operator=(const BoardSession&) = delete;

    // Each runs one operation to its end; observer() then holds what the link reported.
    BoardProbe probe();  // leaves a board that answers in normal mode open
    OperationResult<ConfigSnapshot> readConfig();
    // The bytes go over once the board is open and identified, if `approve` (when given) agrees.
    OperationResult<std::uint32_t> writeConfig(std::shared_ptr<const Bytes> bytes,
                                               std::function<bool()> approve = {});
    OperationResult<FirmwareDownload> downloadFirmware(std::shared_ptr<const Bytes> image,
                                                       const FirmwareOptions& options);
    OperationResult<Bytes> readFlash(std::uint32_t address, std::uint32_t count);
    OperationResult<LinkStatisticsReply> statistics(StatisticsRequest request);
    OperationResult<> selectTrace(std::uint16_t mask);
    OperationResult<TraceLines> pollTrace();

    const BoardLocation& location() const { return location_; }
    BoardLink& link() { return link_; }
    const DeviceIds& deviceIds() const { return link_.ids(); }
    // Progress and cancellation for the operations to come; the reports of the last one.
    DirectObserver& observer() { return observer_; }
    const DirectObserver& observer() const { return observer_; }

private:
    DirectObserver& fresh();

    BoardLocation location_;
    BoardLink link_;
    DirectObserver observer_;
};

// Why an operation that ended so failed, from what the link reported, in English with the
// terminal's code ("Error: -110") and a hint; empty when it ran to its end.
std::string FailureText(const DirectObserver& reports, Ending ending);
// The same for what the link reported alone.
std::string LinkFailureText(const std::vector<int>& statuses, const std::vector<int>& errors);
// Whether the failure was that no board could be found or opened at all.
bool FoundNoBoard(const DirectObserver& reports);
std::string LinkErrorText(int error);
