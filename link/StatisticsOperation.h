// Asking the board for its link statistics, keeping or resetting its counters.
#pragma once

#include "link/BoardTypes.h"
#include "link/OperationResult.h"

class BoardLink;

enum class StatisticsRequest { Read, Reset };

// Reports nothing on the way; the reply is the value. A failed exchange only reaches the log.
OperationResult<LinkStatisticsReply> RequestStatistics(BoardLink& link,
                                                       OperationObserver& observer,
                                                       StatisticsRequest request);
