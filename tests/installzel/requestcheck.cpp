#include "requestcheck.h"
#include <utility>
#include "record.h"

ProtocolCheck CheckRequests(const std::vector<LoggedRecord>& records)
{
    ProtocolCheck check;
    std::vector<std::pair<ServerRecord, ServerRecord>> exchanges;
    for (size_t i = 0; i < records.size(); ++i) {
        if (!records[i].isRequest)
            continue;
        ServerRecord reply = ParseRecord(records[i].hex);
        if (i + 1 < records.size() && !records[i + 1].isRequest)
            reply = ParseRecord(records[i + 1].hex);
        exchanges.push_back({ParseRecord(records[i].hex), reply});
    }
    check.logged = exchanges.size();
    for (const auto& exchange : exchanges)
        if (exchange.first.count == 1 && exchange.first.argument == 1 &&
            exchange.first.subject != FourCharCode("QURY") &&
            (exchange.first.status == 0 || exchange.first.value == 0))
            ++check.setsWithoutYes;

    // Each step compares the next logged request with the one the protocol calls for.
    size_t next = 0;
    bool inStep = true;
    auto expect = [&](const ServerRecord& wanted, bool anySubject) -> const ServerRecord* {
        ++check.expected;
        if (!inStep || next >= exchanges.size()) {
            inStep = false;
            return nullptr;
        }
        ServerRecord got = exchanges[next].first;
        if (anySubject && got.subject != 0)
            got.subject = wanted.subject;
        if (FormatRecord(got) != FormatRecord(wanted)) {
            check.firstMismatch = "request " + std::to_string(next + 1) + ": " + FormatRecord(exchanges[next].first) +
                                  ", expected " + FormatRecord(wanted);
            inStep = false;
            return nullptr;
        }
        ++check.matched;
        return &exchanges[next++].second;
    };

    ServerRecord registration = {};
    registration.command = 1;
    expect(registration, true);
    ServerRecord previous = {};
    for (const char* code : kSwitchCodes) {
        ServerRecord query = previous;
        query.subject = FourCharCode("QURY");
        query.count = 1;
        query.argument = FourCharCode(code);
        query.command = 3;
        const ServerRecord* reply = expect(query, false);
        if (!reply)
            break;
        previous = *reply;
        if (reply->status != 0 && reply->value != 0) {
            ServerRecord set = *reply;
            set.subject = FourCharCode(code);
            set.count = 1;
            set.argument = 1;
            const ServerRecord* setReply = expect(set, false);
            if (!setReply)
                break;
            previous = *setReply;
        }
    }
    if (inStep) {
        ServerRecord unregistration = {};
        unregistration.command = 2;
        expect(unregistration, false);
    }
    return check;
}
