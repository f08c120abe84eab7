// The request oracle: the requests a client must send, built from the replies the stand-in
// logged, compared with the requests it got.
#pragma once
#include <string>
#include <vector>
#include "serverlog.h"

// The register request, for each device switch a query carrying value, reserved and status of the
// reply before it, a set carrying the query reply's value, command, reserved and status whenever
// that reply has nonzero status and value, and the unregister request.
struct ProtocolCheck
{
    size_t expected = 0;           // requests of the whole run, as far as the replies decide them
    size_t matched = 0;            // logged requests, from the first, that are what they must be
    size_t logged = 0;             // requests logged
    size_t setsWithoutYes = 0;     // set requests that no query reply with nonzero status and value allowed
    std::string firstMismatch;

    bool Complete() const { return matched == expected && logged == expected; }
    size_t Lost() const { return logged > matched ? logged - matched : expected - matched; }
};

ProtocolCheck CheckRequests(const std::vector<LoggedRecord>& records);
