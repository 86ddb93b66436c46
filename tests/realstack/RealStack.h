// Runs the shipped programs, unchanged, with their real USB library on the simulated world
// attached at usbfs under umockdev. umockdev's preload blocks signals while it serves a request,
// so every run has a hard limit after which the program is killed (SIGKILL).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/SimControl.h"
#include "sim/SimUsbfs.h"
#include "tests/realstack/ProgramRunner.h"

class RealStackTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Attaches the world built so far; call after adding its buses and devices.
    void attach();
    // Runs the program as a user without root's rights over the nodes; files go to workDir().
    ProgramRun run(const std::string& program, const std::vector<std::string>& arguments,
                   std::chrono::seconds limit = std::chrono::seconds(60));
    ProgramRun k350ctl(const std::vector<std::string>& arguments,
                       std::chrono::seconds limit = std::chrono::seconds(60));
    std::string workDir() const { return workDir_; }
    std::string location(k350sim::DeviceId device) const;  // "001/003", as k350ctl prints it

    // A bus as a PC shows it: root hub, a mouse and a hub-attached storage stick, then boards.
    int addBusWithOthers();

    std::unique_ptr<k350sim::UsbfsAttachment> usbfs;
    std::map<std::string, std::string> environment;

private:
    std::string workDir_;
};
