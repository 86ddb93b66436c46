// `history`: the runs of the line's record as text, JSON lines or CSV.
#pragma once

#include <string>
#include <vector>

#include "store/RunStore.h"

enum class HistoryFormat { Text, Json, Csv };

std::string HistoryReport(const std::vector<RunRecord>& runs, HistoryFormat format);
// "42" and "0042" name the same board, as "a0z" and "0A0Z" do.
std::string NormalizedSerial(const std::string& serial);
