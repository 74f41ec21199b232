// Result lists and owners going away while ports are busy on real lines:
// no delivery into a destroyed list, no leak, no data race.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "ports/ProtoUART.h"
#include "protocol/Modbus.h"
#include "support/ManualClock.h"
#include "support/PtyResponder.h"
#include "support/Wait.h"

namespace tovik {
namespace {

using namespace std::chrono_literals;
using test::ModbusFrame;
using test::PtyResponder;
using Bytes = std::vector<uint8_t>;

TOutcome ReadTwoRegisters(TProtoRequest& r) {
    Bytes f{r.Address, 3, 0, 0, 0, 2};
    AppendCrc(f);
    TBuff reply;
    if (!Exchange(*r.Port, f, r.Port->ReplyTimeout + r.ExtraTimeout, 2, r.Tries, reply).Ok()) return {};
    std::copy_n(reply.begin(), std::min<size_t>(reply.size(), static_cast<size_t>(r.RxLength)), r.RxBuffer);
    return kAnswered;
}

TEST(Lifetime, ListsDestroyedWhilePortsAreBusy) {
    test::ManualClock clock;  // stands still: every exchange gets its answer
    auto answer = [](const Bytes& req) { return ModbusFrame(req.at(0), 3, {4, 1, 2, 3, 4}); };
    PtyResponder devA(answer), devB(answer);
    auto stats = std::make_shared<TRequestStats>();
    TProtoUART portA(stats), portB(stats);
    ASSERT_TRUE(portA.SetPortName(devA.PortName()));
    ASSERT_TRUE(portB.SetPortName(devB.PortName()));
    portA.ReplyTimeout = 100;
    portB.ReplyTimeout = 100;

    std::atomic<int> delivered{0};
    std::weak_ptr<TResultEventsList> last;
    for (int round = 0; round < 60; ++round) {
        auto list = std::make_shared<TResultEventsList>();
        const int32_t ownerA = portA.RegisterOwner();
        const int32_t ownerB = portB.RegisterOwner();
        for (int i = 0; i < 2; ++i) {
            for (auto [port, owner] : {std::pair{&portA, ownerA}, std::pair{&portB, ownerB}}) {
                auto result = std::make_unique<TBlock>(4);
                auto req = MakeRequest(port, 1, 1, {}, nullptr, 0, result->data(), 4, 0, 3);
                port->PutJob(MakeJob(std::move(req), nullptr, std::move(result), owner, list,
                                     ReadTwoRegisters, [&](const TReply&) { ++delivered; }));
            }
        }
        // The user-interface thread changes settings while the workers read them.
        portA.Bus = round % 2 == 0;
        portB.ReplyTimeout = 100 + round % 3;
        // Varied pauses vary where the workers are when the list goes.
        if (round % 3 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(round % 7));
        if (round % 2 == 0) list->DispatchOne();
        // The panel goes away: owners unregistered (or not), list released.
        if (round % 4 != 0) {
            EXPECT_TRUE(portA.UnregisterOwner(ownerA));
            EXPECT_TRUE(portB.UnregisterOwner(ownerB));
        }
        last = list;
        list.reset();
    }
    // Every list dies once its jobs are done, in whichever thread that is.
    EXPECT_TRUE(test::WaitUntil([&] { return last.expired(); }));
    EXPECT_EQ(portA.QueueLength() + portB.QueueLength(), 0u);
    EXPECT_GT(stats->GetStats().OkCount, 0);
}

TEST(Lifetime, PortsDeletedWhileOthersWork) {
    PtyResponder quiet;
    PtyResponder busy([](const Bytes& req) { return ModbusFrame(req.at(0), 3, {2, 0, 1}); });
    auto stats = std::make_shared<TRequestStats>();
    TProtoUART survivor(stats);
    ASSERT_TRUE(survivor.SetPortName(busy.PortName()));
    survivor.ReplyTimeout = 100;
    const int32_t owner = survivor.RegisterOwner();
    auto list = std::make_shared<TResultEventsList>();
    auto put = [&](TProtoPort& port, int32_t id) {
        auto result = std::make_unique<TBlock>(2);
        auto req = MakeRequest(&port, 1, 1, {}, nullptr, 0, result->data(), 2, 0, 3);
        port.PutJob(MakeJob(std::move(req), nullptr, std::move(result), id, list, ReadTwoRegisters, {}));
    };
    for (int i = 0; i < 5; ++i) {
        auto doomed = std::make_unique<TProtoUART>(stats);
        ASSERT_TRUE(doomed->SetPortName(quiet.PortName()));
        doomed->ReplyTimeout = 5000;
        const int32_t id = doomed->RegisterOwner();
        put(*doomed, id);
        put(*doomed, id);
        put(survivor, owner);
        ASSERT_TRUE(quiet.WaitForRequests(static_cast<size_t>(i) + 1));
        doomed.reset();  // its worker is waiting for a reply
        stats->GetStats();
    }
    EXPECT_TRUE(test::WaitUntil([&] { return list->Count() >= 5; }));
    EXPECT_EQ(list->Count(), 5u);  // only the survivor's jobs were answered
}

}  // namespace
}  // namespace tovik
