// Dividing the settled fares between the bus and the metro operator.
#pragma once

#include "exchange/exchange.h"

#include <cstdint>
#include <vector>

// Adds each record's shares to the two sums. Only records whose carrier is
// exactly "BUS" or "METRO" and whose amount the fare table knows are
// divided; the others count toward the total alone.
// Whether the record's mode is exactly one of the two carriers' names.
bool namesCarrier(const FareRecord& record);

void Account(const std::vector<FareRecord>& records, std::int64_t& busShare,
             std::int64_t& metroShare, std::int64_t recordCount);
