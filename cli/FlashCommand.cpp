// flash: the terminal's firmware download, and a read-back of the programmed range.
#include <algorithm>
#include <cstdio>

#include "cli/CommandSupport.h"
#include "config/ServiceCodes.h"
#include "link/BoardProbe.h"
#include "link/FlashVerify.h"
#include "link/SpiFlash.h"
#include "station/FlashImage.h"

namespace {
std::string hexAddress(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%06X", address);
    return text;
}

std::string hexByte(std::uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

struct Verification {
    bool done = false;
    std::optional<std::uint32_t> firstDifference;
    std::string failure;  // the read-back itself failed, or was refused
};

Verification verifyFlash(BoardSession& session, const std::vector<std::uint8_t>& image) {
    Verification verification;
    const FlashComparison comparison = CompareFlash(session, image);
    if (!comparison.readFailure.empty()) {
        verification.failure = "verify could not read the flash back: " + comparison.readFailure;
        return verification;
    }
    verification.done = true;
    if (comparison.firstDifference) {
        verification.firstDifference = comparison.firstDifference;
        verification.failure = "verify failed: first difference at " +
                               hexAddress(*comparison.firstDifference) + " (image " +
                               hexByte(comparison.imageByte) + ", flash " +
                               hexByte(comparison.flashByte) + ")";
    }
    return verification;
}

void reportSuccess(const Options& options, Console& console, const BoardSession& session, bool boot,
                   std::uint32_t bytes, bool verified) {
    if (options.json) {
        Json object = BoardJson(session, true);
        object["mode"] = boot ? "boot" : "normal";
        object["bytes"] = bytes;
        object["verified"] = options.verify ? Json(verified) : Json();
        object["first_difference"] = nullptr;
        console.data(JsonText(object));
        return;
    }
    console.message(session.location().text() + ": " + std::to_string(bytes) + " bytes " +
                    (boot ? "sent to the boot loader" : "programmed") +
                    (verified ? ", verified" : ""));
}

BoardResult reportVerifyFailure(const Options& options, Console& console,
                                const BoardSession& session, bool boot, std::uint32_t bytes,
                                const Verification& verification) {
    if (options.json) {
        Json object = BoardJson(session, false);
        object["exit_status"] = ExitStatus::Failed;
        object["error"] = verification.failure;
        object["mode"] = boot ? "boot" : "normal";
        object["bytes"] = bytes;
        object["verified"] = false;
        object["first_difference"] =
            verification.firstDifference ? Json(hexAddress(*verification.firstDifference)) : Json();
        console.data(JsonText(object));
    }
    return {ExitStatus::Failed, verification.failure};
}

// The worker reports a flash that stayed busy for 10 s as a timeout although every transfer went
// through: then the hint speaks of the flash, not of the cable.
bool flashStayedBusy(BoardSession& session) {
    const std::vector<int>& errors = session.observer().errors;
    return errors.size() == 1 && errors[0] == LinkError::Timeout &&
           session.link().lastResult() >= 0;
}

// Nothing can be read back from a board in boot mode: with --verify it is refused before a byte
// is sent, rather than after the whole image went to the boot loader.
bool answersOnlyInBootMode(const BoardSession& session, Console& console) {
    return ProbeBoard(session.location(), console.clock()).mode == BoardProbe::Mode::Boot;
}

BoardResult flashBoard(const Options& options, Console& console, BoardSession& session,
                       const FirmwareImage& image) {
    if (options.verify && answersOnlyInBootMode(session, console)) {
        return ReportFailure(
            options, console, session,
            {ExitStatus::Failed,
             "verify refused: the board answers only in boot mode, where nothing can be read "
             "back; nothing was sent (without --verify the image goes to the boot loader)"});
    }
    ShowProgress(session, console);
    const Console::Download download(console);
    const OperationResult<FirmwareDownload> downloaded =
        session.downloadFirmware(image.bytes, {options.poll});
    if (!downloaded.done()) {
        BoardResult failure = OperationFailure(session, downloaded.ending);
        if (flashStayedBusy(session)) {
            failure.message =
                "Error: -110 (the flash stayed busy for 10 s after an erase or program step; "
                "download again, and if it stays, the board's flash needs service)";
        }
        return ReportFailure(options, console, session, failure);
    }
    const bool boot = downloaded.value.bootMode;
    const std::uint32_t bytes = downloaded.value.bytes;
    if (!options.verify) {
        reportSuccess(options, console, session, boot, bytes, false);
        return {};
    }
    Verification verification;
    if (boot) {
        verification.failure =
            "verify refused: the board answered only in boot mode, where nothing can be read "
            "back; the image went to the boot loader unverified";
    } else {
        verification = verifyFlash(session, *image.bytes);
    }
    if (!verification.failure.empty()) {
        return reportVerifyFailure(options, console, session, boot, bytes, verification);
    }
    reportSuccess(options, console, session, boot, bytes, true);
    return {};
}

}  // namespace

int FlashCommand(const Options& options, Console& console) {
    if (!HasAccess(options, console, int(ServiceLevel::Service), "flash")) return ExitStatus::Usage;
    FirmwareImage image;
    if (const std::string refusal = LoadFlashImage(options.operands[0], image); !refusal.empty()) {
        console.message("k350ctl: " + refusal);
        return ExitStatus::File;
    }
    const BoardChoice choice = ChooseBoards(options.board, options.all, console);
    if (choice.status != ExitStatus::Ok) return choice.status;
    return RunOnBoards(choice, options, console, [&](BoardSession& session) {
        return flashBoard(options, console, session, image);
    });
}
