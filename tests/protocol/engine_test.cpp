// Requests through the whole engine: a builder queues the job on a serial
// port opened on a pseudo-terminal, the port's worker runs the executor,
// and a small scripted relay on the other side answers natively or over
// ModBus. The reply block reaches the handler through the result list. The
// engine's clock moves only while the line is settled (support/LineClock.h).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "panel/DeviceView.h"
#include "ports/FrameTrace.h"
#include "ports/ProtoUART.h"
#include "protocol/Builders.h"
#include "protocol/Commands.h"
#include "protocol/Executor.h"
#include "protocol/Frame.h"
#include "support/LineClock.h"
#include "support/ManualClock.h"
#include "support/PtyResponder.h"
#include "support/TraceRecorder.h"
#include "support/Wait.h"

namespace tovik {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// The payload of a native frame, checked independently of the receiver.
std::optional<Bytes> DecodeNative(const Bytes& f) {
    if (f.size() < 4 || f[0] != f.size() || f[1] != f.size() - 1) return std::nullopt;
    uint8_t sum = 0;
    Bytes payload;
    for (size_t i = 0; i < f.size(); ++i) {
        const size_t pos = i + 1;
        sum = static_cast<uint8_t>(sum + f[i] + pos);
        if (pos % 4 == 0 || pos == f.size()) {
            if (sum != 0) return std::nullopt;
        } else if (pos >= 3) {
            payload.push_back(f[i]);
        }
    }
    return payload;
}

// A relay on the far side of the line. Native kinds answer each command
// with its scripted reply data; ModBus kinds serve a register map.
class FakeRelay {
public:
    void SetAddress(uint8_t address) {
        std::lock_guard l(Lock);
        Address = address;
    }
    void SetModbus(bool modbus) {
        std::lock_guard l(Lock);
        Modbus = modbus;
    }

    void SetReply(uint8_t code, Bytes data) {
        std::lock_guard l(Lock);
        Replies[code] = std::move(data);
    }
    void SetRegister(uint16_t reg, uint16_t value) {
        std::lock_guard l(Lock);
        Regs[reg] = value;
    }
    uint16_t Register(uint16_t reg) {
        std::lock_guard l(Lock);
        return Regs[reg];
    }
    void IgnoreNext(int n) { Set(&FakeRelay::Ignore, n); }
    void CorruptNext(int n) { Set(&FakeRelay::Corrupt, n); }
    void NoiseNext(int n) { Set(&FakeRelay::Noise, n); }
    // The next n replies go out twice in a row.
    void DoubleNext(int n) { Set(&FakeRelay::Doubled, n); }
    void ReplyFrom(uint8_t address) {
        std::lock_guard l(Lock);
        ReplyAddress = address;
    }
    void AnswerAs(uint8_t code) {
        std::lock_guard l(Lock);
        AnswerCode = code;
    }
    // No answer to reads of this register.
    void MuteRegister(uint16_t reg) {
        std::lock_guard l(Lock);
        Muted = reg;
    }
    // Reads of this register answer one register less than asked.
    void ShortenRegister(uint16_t reg) {
        std::lock_guard l(Lock);
        Shortened = reg;
    }
    // Decoded native payloads, or the ModBus frames without CRC.
    std::vector<Bytes> Received() {
        std::lock_guard l(Lock);
        return Log;
    }
    void ClearLog() {
        std::lock_guard l(Lock);
        Log.clear();
    }

    Bytes Handle(const Bytes& request) {
        std::lock_guard l(Lock);
        Bytes reply = Modbus ? HandleModbus(request) : HandleNative(request);
        if (reply.empty()) return reply;
        if (Ignore > 0) {
            --Ignore;
            return {};
        }
        if (Corrupt > 0) {
            --Corrupt;
            reply.back() ^= 0x5A;  // final check byte or CRC
        }
        if (Noise > 0) {
            --Noise;
            reply.insert(reply.begin(), 0x55);
        }
        if (Doubled > 0) {
            --Doubled;
            const Bytes once = reply;
            reply.insert(reply.end(), once.begin(), once.end());
        }
        return reply;
    }

private:
    void Set(int FakeRelay::*field, int n) {
        std::lock_guard l(Lock);
        this->*field = n;
    }

    Bytes HandleNative(const Bytes& frame) {
        const auto p = DecodeNative(frame);
        if (!p || p->size() < 2) return {};
        Log.push_back(*p);
        if ((*p)[0] != Address) return {};
        const uint8_t code = AnswerCode.value_or((*p)[1]);
        Bytes reply{ReplyAddress.value_or(Address), code};
        const auto it = Replies.find(code);
        if (it != Replies.end()) reply.insert(reply.end(), it->second.begin(), it->second.end());
        return BuildNativeFrame(reply);
    }

    Bytes HandleModbus(const Bytes& f) {
        if (f.size() < 8) return {};
        const uint16_t crc = static_cast<uint16_t>(f[f.size() - 2] | f[f.size() - 1] << 8);
        if (Crc16(f.data(), f.size() - 2) != crc) return {};
        Log.emplace_back(f.begin(), f.end() - 2);
        if (f[0] != Address) return {};
        const uint16_t reg = static_cast<uint16_t>(f[2] << 8 | f[3]);
        const uint16_t count = static_cast<uint16_t>(f[4] << 8 | f[5]);
        const uint8_t from = ReplyAddress.value_or(Address);
        if (f[1] == 3) {
            if (Muted == reg) return {};
            const uint16_t n = Shortened == reg ? count - 1 : count;
            Bytes payload{static_cast<uint8_t>(2 * n)};
            for (uint16_t i = 0; i < n; ++i) {
                const uint16_t v = Regs[static_cast<uint16_t>(reg + i)];
                payload.push_back(static_cast<uint8_t>(v >> 8));
                payload.push_back(static_cast<uint8_t>(v & 0xFF));
            }
            return test::ModbusFrame(from, 3, payload);
        }
        if (f[1] == 16) {
            // The count byte carries the number of registers.
            if (f.size() != 9u + 2u * f[6] || f[6] != count) return {};
            for (uint16_t i = 0; i < count; ++i)
                Regs[static_cast<uint16_t>(reg + i)] =
                    static_cast<uint16_t>(f[7 + 2 * i] << 8 | f[8 + 2 * i]);
            return test::ModbusFrame(from, 16, Bytes(f.begin() + 2, f.begin() + 6));
        }
        return {};
    }

    std::mutex Lock;
    uint8_t Address = 1;
    bool Modbus = false;
    std::map<uint8_t, Bytes> Replies;
    std::map<uint16_t, uint16_t> Regs;
    std::vector<Bytes> Log;
    int Ignore = 0;
    int Corrupt = 0;
    int Doubled = 0;
    int Noise = 0;
    std::optional<uint8_t> ReplyAddress;
    std::optional<uint8_t> AnswerCode;
    std::optional<uint16_t> Muted;
    std::optional<uint16_t> Shortened;
};

struct TDelivered {
    bool Called = false;
    uint8_t Ok = 0;
    bool HasData = false;
    Bytes Data;
};

using TQueue = std::function<bool(TProtoPort&, uint8_t kind, TEvents, TResultHandler)>;

class Engine : public ::testing::Test {
protected:
    void SetUp() override { OpenPort(); }
    void TearDown() override {
        Line.reset();
        Port.reset();
    }

    void OpenPort() {
        Line.reset();
        Port = std::make_unique<test::TWatchedUART>(Stats);
        Line = std::make_unique<test::LineClock>(Clock, *Port, Pty);
        ASSERT_TRUE(Port->SetPortName(Pty.PortName()));
        Owner = Port->RegisterOwner();
    }

    void UseKind(uint8_t kind) {
        Kind = kind;
        Relay.SetModbus(IsModbusKind(kind));
    }

    // Waits for the next result event, with the clock moving while the line
    // is settled, and dispatches it.
    bool Dispatch() {
        if (!Line->RunUntil([&] { return !Events->IsEmpty(); })) return false;
        Events->DispatchOne();
        return true;
    }

    TDelivered Call(const TQueue& queue) {
        auto out = std::make_shared<TDelivered>();
        const bool queued = queue(*Port, Kind, Events, [out](const TReply& reply) {
            out->Called = true;
            out->Ok = reply.Ok();
            out->HasData = reply.Data != nullptr;
            if (reply.Data) out->Data = *reply.Data;
        });
        EXPECT_TRUE(queued);
        EXPECT_TRUE(Dispatch());
        return *out;
    }

    // A hand-made request through the engine, for values no builder gives.
    TDelivered Run(TCommandDescriptor command, Bytes data, int32_t rxLength, int32_t extra, int32_t tries,
                   uint8_t kind) {
        auto reply = rxLength > 0 ? std::make_unique<TBlock>(static_cast<size_t>(rxLength), 0) : nullptr;
        TBlockPtr tx = data.empty() ? nullptr : std::make_unique<TBlock>(data);
        const TBlock* txRef = tx.get();
        auto request =
            MakeRequest(Port.get(), 1, kind, command, std::move(tx), static_cast<int32_t>(data.size()),
                        reply ? reply->data() : nullptr, rxLength, extra, tries);
        auto out = std::make_shared<TDelivered>();
        Port->PutJob(MakeJob(std::move(request), txRef, std::move(reply), Owner, Events, ExecuteRequest,
                             [out](const TReply& reply) {
                                 out->Called = true;
                                 out->Ok = reply.Ok();
                                 out->HasData = reply.Data != nullptr;
                                 if (reply.Data) out->Data = *reply.Data;
                             }));
        EXPECT_TRUE(Dispatch());
        return *out;
    }

    TStatsSnapshot Counts() const { return Stats->GetStats(); }

    test::ManualClock Clock;
    FakeRelay Relay;
    test::PtyResponder Pty{[this](const Bytes& r) { return Relay.Handle(r); }};
    std::shared_ptr<TRequestStats> Stats = std::make_shared<TRequestStats>();
    std::unique_ptr<test::TWatchedUART> Port;
    std::unique_ptr<test::LineClock> Line;
    std::shared_ptr<TResultEventsList> Events = std::make_shared<TResultEventsList>();
    int32_t Owner = 0;
    uint8_t Kind = kKindTovik;
};

Bytes Pattern(size_t n, uint8_t start) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(start + i);
    return b;
}

// ---- native kinds ----

TEST_F(Engine, NativeReadsReachTheHandler) {
    for (uint8_t kind : {kKindTovik, kKindTovikM}) {
        UseKind(kind);
        Relay.ClearLog();
        Relay.SetReply(CmdReadState, {9, 8, 7, 2});
        Relay.SetReply(CmdReadUst, Pattern(57, 1));
        Relay.SetReply(CmdReadCell, {0x21, 1, 0, 5});

        auto state = Call([](TProtoPort& p, uint8_t k, TEvents e, TResultHandler h) {
            return RequestReadState(p, 1, 0, k, e, h);
        });
        EXPECT_TRUE(state.Ok);
        EXPECT_EQ(state.Data, (Bytes{9, 8, 7, 2}));

        auto ust = Call([](TProtoPort& p, uint8_t k, TEvents e, TResultHandler h) {
            return RequestReadUst(p, 1, 0, k, e, h);
        });
        EXPECT_TRUE(ust.Ok);
        EXPECT_EQ(ust.Data, Pattern(57, 1));

        auto model = Call([](TProtoPort& p, uint8_t k, TEvents e, TResultHandler h) {
            return RequestReadCell(p, 1, 0, k, e, h, 19);
        });
        EXPECT_TRUE(model.Ok);
        EXPECT_EQ(model.Data, (Bytes{0x21, 1, 0, 5}));  // the item's bytes, not the whole block

        EXPECT_EQ(Relay.Received(), (std::vector<Bytes>{{1, 23}, {1, 3}, {1, 4, 49, 1}}));
    }
    EXPECT_EQ(Counts().SentCount, 6);
    EXPECT_EQ(Counts().OkCount, 6);
    EXPECT_EQ(Counts().ErrorCount, 0);
}

TEST_F(Engine, NativeReplyLongerOrShorterThanTheBlock) {
    Relay.SetReply(CmdReadImax, {1, 2, 3, 4, 5, 6});  // two bytes too many
    auto imax = Call([](TProtoPort& p, uint8_t k, TEvents e, TResultHandler h) {
        return RequestReadImax(p, 1, 0, k, e, h);
    });
    EXPECT_TRUE(imax.Ok);
    EXPECT_EQ(imax.Data, (Bytes{1, 2, 3, 4}));

    Relay.SetReply(CmdReadTask, {1, 2, 3});  // short: the block ends where the reply did
    auto task = Call([](TProtoPort& p, uint8_t k, TEvents e, TResultHandler h) {
        return RequestReadTask(p, 1, 0, k, e, h, 6);
    });
    EXPECT_TRUE(task.Ok);
    EXPECT_EQ(task.Data, (Bytes{1, 2, 3}));

    Relay.SetReply(CmdReadTask, {});  // nothing but address and command
    auto empty = Call([](TProtoPort& p, uint8_t k, TEvents e, TResultHandler h) {
        return RequestReadTask(p, 1, 0, k, e, h, 6);
    });
    EXPECT_TRUE(empty.Ok);
    EXPECT_TRUE(empty.HasData);
    EXPECT_TRUE(empty.Data.empty());
}

TEST_F(Engine, NativeNoAnswerSendsThreeTimes) {
    Relay.SetAddress(9);  // nobody answers address 1
    auto r = Run({CmdReadState, -1, 0}, {}, 4, 60, 3, kKindTovik);
    EXPECT_TRUE(r.Called);
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.Data.empty());  // nothing arrived
    EXPECT_EQ(Pty.RequestCount(), 3u);
    EXPECT_EQ(Counts().SentCount, 3);
    EXPECT_EQ(Counts().OkCount, 0);
    EXPECT_EQ(Counts().ErrorCount, 0);
}

TEST_F(Engine, NativeBadCheckByteThenGood) {
    Relay.SetReply(CmdReadClock, {14, 5, 9, 7, 3, 26});
    Relay.CorruptNext(1);
    auto r = Call([](TProtoPort& p, uint8_t k, TEvents e, TResultHandler h) {
        return RequestReadClock(p, 1, 0, k, e, h);
    });
    EXPECT_TRUE(r.Ok);
    EXPECT_EQ(r.Data, (Bytes{14, 5, 9, 7, 3, 26}));
    EXPECT_EQ(Counts().SentCount, 2);
    EXPECT_EQ(Counts().ErrorCount, 1);
    EXPECT_EQ(Counts().OkCount, 1);
}

TEST_F(Engine, NativeNoiseByteCostsOneTry) {
    Relay.SetReply(CmdReadState, {0, 0, 0, 4});
    Relay.NoiseNext(1);
    auto r = Call([](TProtoPort& p, uint8_t k, TEvents e, TResultHandler h) {
        return RequestReadState(p, 1, 0, k, e, h);
    });
    EXPECT_TRUE(r.Ok);
    EXPECT_EQ(r.Data[3], 4);
    EXPECT_EQ(Pty.RequestCount(), 2u);
    EXPECT_EQ(Counts().SentCount, 2);
    EXPECT_EQ(Counts().OkCount, 1);
}

TEST_F(Engine, NativeDamagedFramesCountOneErrorPerTry) {
    // Two damaged frames answer each try: each frame sent is still counted
    // once, so "no answer" (sent - ok - error) never goes below zero.
    Relay.SetReply(CmdReadState, {0, 0, 0, 4});
    Relay.CorruptNext(2);
    Relay.DoubleNext(2);
    auto r = Run({CmdReadState, -1, 0}, {}, 4, 100, 2, kKindTovik);
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(Counts().SentCount, 2);
    EXPECT_EQ(Counts().ErrorCount, 2);
    EXPECT_EQ(Counts().NoAnswer(), 0);
}

TEST_F(Engine, NativeWrongAddressDependsOnBusMode) {
    Relay.SetReply(CmdReadState, {0, 0, 0, 1});
    Relay.ReplyFrom(2);
    Port->Bus = true;
    auto bus = Run({CmdReadState, -1, 0}, {}, 4, 100, 3, kKindTovik);
    EXPECT_FALSE(bus.Ok);
    EXPECT_EQ(Pty.RequestCount(), 3u);  // rejected and tried again
    EXPECT_EQ(Counts().ErrorCount, 3);

    Port->Bus = false;
    auto single = Run({CmdReadState, -1, 0}, {}, 4, 100, 3, kKindTovik);
    EXPECT_TRUE(single.Ok);
    EXPECT_EQ(single.Data[3], 1);
    EXPECT_EQ(Pty.RequestCount(), 4u);
}

TEST_F(Engine, NativeWrongCommandIsRejected) {
    Relay.SetReply(CmdReadImax, {1, 2, 3, 4});
    Relay.AnswerAs(CmdReadImax);  // whatever is asked
    auto r = Run({CmdReadState, -1, 0}, {}, 4, 60, 2, kKindTovik);
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.Data.empty());  // the foreign reply's data is not this request's
    EXPECT_EQ(Pty.RequestCount(), 2u);
    EXPECT_EQ(Counts().ErrorCount, 2);
}

// ---- ModBus kinds ----

TEST_F(Engine, ModbusSetpointBlockOnBothKinds) {
    for (uint8_t kind : {kKindTovikModbus, kKindTovikMModbus}) {
        UseKind(kind);
        for (uint16_t r = 32; r <= 63; ++r) Relay.SetRegister(r, static_cast<uint16_t>(0x0100 * r + r));
        Relay.SetRegister(44, 0x0010);  // ratio 16
        Relay.SetRegister(45, kind == kKindTovikModbus ? 0x0002 : 40);
        Relay.SetRegister(58, 0x0021);  // model
        Relay.SetRegister(59, 0x0307);  // 7 March
        Relay.SetRegister(60, 0x001A);  // 2026
        Relay.SetRegister(63, 3);

        auto r = Call([](TProtoPort& p, uint8_t k, TEvents e, TResultHandler h) {
            return RequestReadUst(p, 1, 0, k, e, h);
        });
        ASSERT_TRUE(r.Ok) << int(kind);
        ASSERT_EQ(r.Data.size(), 57u);
        EXPECT_EQ(r.Data[0], 32);  // register 32, little-endian
        EXPECT_EQ(r.Data[1], 32);
        if (kind == kKindTovikModbus) {
            EXPECT_EQ((Bytes{r.Data.begin() + 24, r.Data.begin() + 28}), (Bytes{0x10, 0, 2, 0}));
        } else {
            EXPECT_EQ((Bytes{r.Data.begin() + 24, r.Data.begin() + 28}), (Bytes{0x10, 0, 3, 40}));
        }
        EXPECT_EQ(r.Data[28], 46);  // Tmin from register 46
        EXPECT_EQ(r.Data[46], 55);  // one-byte items from registers 55 to 58
        EXPECT_EQ(r.Data[47], 56);
        EXPECT_EQ(r.Data[48], 57);
        EXPECT_EQ(r.Data[49], 0x21);
        EXPECT_EQ((Bytes{r.Data.begin() + 50, r.Data.begin() + 53}), (Bytes{7, 3, 26}));
        EXPECT_EQ(r.Data[53], 61);  // serial number, register 61
        EXPECT_EQ(r.Data[55], 62);  // Tпс, register 62
        EXPECT_EQ(r.Data[56], 62);
        EXPECT_EQ(Relay.Received().back(),
                  (Bytes{1, 3, 0, 32, 0, static_cast<uint8_t>(kind == 1 ? 31 : 32)}));
    }
}

TEST_F(Engine, ModbusReshapedReplies) {
    for (uint8_t kind : {kKindTovikModbus, kKindTovikMModbus}) {
        UseKind(kind);
        // Model item: model, change marks, variant byte.
        Relay.SetRegister(58, 0x0021);
        Relay.SetRegister(6, 0x0302);  // both marks, state code 2
        Relay.SetRegister(17, 0x0005);
        auto model = Call([](TProtoPort& p, uint8_t k, TEvents e, TResultHandler h) {
            return RequestReadCell(p, 1, 0, k, e, h, 19);
        });
        EXPECT_TRUE(model.Ok);
        EXPECT_EQ(model.Data, (Bytes{0x21, 1, 1, 5}));

        // State: only byte 3.
        auto state = Call([](TProtoPort& p, uint8_t k, TEvents e, TResultHandler h) {
            return RequestReadState(p, 1, 0, k, e, h);
        });
        EXPECT_TRUE(state.Ok);
        EXPECT_EQ(state.Data, (Bytes{0, 0, 0, 2}));

        // Clock: the fourth byte of the eight is dropped.
        Relay.SetRegister(112, 0x050E);
        Relay.SetRegister(113, 9);
        Relay.SetRegister(114, 0x0307);
        Relay.SetRegister(115, 26);
        auto clock = Call([](TProtoPort& p, uint8_t k, TEvents e, TResultHandler h) {
            return RequestReadClock(p, 1, 0, k, e, h);
        });
        EXPECT_TRUE(clock.Ok);
        EXPECT_EQ(clock.Data, (Bytes{14, 5, 9, 7, 3, 26}));

        // Task entry: count and capacity into 13 and 14, the index in 12.
        Relay.SetRegister(304, 0x1003);  // 3 entries of 16
        for (uint16_t i = 0; i < 6; ++i)
            Relay.SetRegister(static_cast<uint16_t>(305 + i),
                              static_cast<uint16_t>((2 * i + 2) << 8 | (2 * i + 1)));
        auto task = Call([](TProtoPort& p, uint8_t k, TEvents e, TResultHandler h) {
            return RequestReadTask(p, 1, 0, k, e, h, 2);
        });
        EXPECT_TRUE(task.Ok);
        EXPECT_EQ(task.Data, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 2, 3, 16}));
        EXPECT_EQ(Relay.Register(304), 2);  // the index was written before the entry was read

        // Alarm record: 20 bytes cut to 19.
        for (uint16_t i = 0; i < 10; ++i)
            Relay.SetRegister(static_cast<uint16_t>(129 + i),
                              static_cast<uint16_t>((2 * i + 2) << 8 | (2 * i + 1)));
        auto alarm = Call([](TProtoPort& p, uint8_t k, TEvents e, TResultHandler h) {
            return RequestReadAlarm(p, 1, 0, k, e, h, 7);
        });
        EXPECT_TRUE(alarm.Ok);
        EXPECT_EQ(alarm.Data, Pattern(19, 1));
        EXPECT_EQ(Relay.Register(128), 7);

        // Timers: 16 bytes from the relay; the 17th never arrives.
        for (uint16_t i = 0; i < 8; ++i) Relay.SetRegister(static_cast<uint16_t>(352 + i), 0x0101);
        auto timers = Call([](TProtoPort& p, uint8_t k, TEvents e, TResultHandler h) {
            return RequestReadTimers(p, 1, 0, k, e, h);
        });
        EXPECT_TRUE(timers.Ok);
        EXPECT_EQ(timers.Data, Bytes(16, 1));
    }
}

TEST_F(Engine, ModbusWrites) {
    UseKind(kKindTovikModbus);
    TUstRaw raw{0x78, 0x56, 0x34, 0x12, 0, 0, 0, 0};
    auto w = Call([&](TProtoPort& p, uint8_t k, TEvents e, TResultHandler h) {
        return RequestWriteCell(p, 1, 0, k, e, h, 0, raw);
    });
    EXPECT_TRUE(w.Ok);
    EXPECT_FALSE(w.HasData);
    EXPECT_EQ(Relay.Register(32), 0x5678);
    EXPECT_EQ(Relay.Register(33), 0x1234);

    auto clock = Call([](TProtoPort& p, uint8_t k, TEvents e, TResultHandler h) {
        return RequestSetClock(p, 1, 0, k, e, h, TLocalTime{14, 5, 9, 7, 3, 2026});
    });
    EXPECT_TRUE(clock.Ok);
    EXPECT_EQ(Relay.Register(112), 0x050E);
    EXPECT_EQ(Relay.Register(113), 9);
    EXPECT_EQ(Relay.Register(114), 0x0307);
    EXPECT_EQ(Relay.Register(115), 26);

    TTaskEntry entry{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    auto add = Call([&](TProtoPort& p, uint8_t k, TEvents e, TResultHandler h) {
        return RequestAddTask(p, 1, 0, k, e, h, 4, entry);
    });
    EXPECT_TRUE(add.Ok);
    EXPECT_EQ(Relay.Register(305), 0x0201);
    EXPECT_EQ(Relay.Register(310), 0x0C0B);
    EXPECT_EQ(Relay.Register(311), 1);

    // ТовикМ ModBus keeps items 23 and 24 and a 16-bit ratio in registers of their own.
    UseKind(kKindTovikMModbus);
    Relay.SetRegister(45, 0xFFFF);
    Call([](TProtoPort& p, uint8_t k, TEvents e, TResultHandler h) {
        return RequestWriteCell(p, 1, 0, k, e, h, 6, TUstRaw{0x10, 0, 0x77, 0x77, 0, 0, 0, 0});
    });
    Call([](TProtoPort& p, uint8_t k, TEvents e, TResultHandler h) {
        return RequestWriteCell(p, 1, 0, k, e, h, 23, TUstRaw{40, 0x99, 0, 0, 0, 0, 0, 0});
    });
    Call([](TProtoPort& p, uint8_t k, TEvents e, TResultHandler h) {
        return RequestWriteCell(p, 1, 0, k, e, h, 24, TUstRaw{3, 0, 0, 0, 0, 0, 0, 0});
    });
    EXPECT_EQ(Relay.Register(44), 0x10);
    EXPECT_EQ(Relay.Register(45), 40);
    EXPECT_EQ(Relay.Register(63), 3);
    const auto log = Relay.Received();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[log.size() - 3], (Bytes{1, 16, 0, 44, 0, 1, 1, 0, 0x10}));
}

TEST_F(Engine, ModbusModelItemWithFailingThirdRead) {
    UseKind(kKindTovikMModbus);
    Relay.SetRegister(58, 0x0021);
    Relay.SetRegister(6, 0x0100);
    Relay.MuteRegister(17);
    auto r = Run({CmdReadCell, 49, 1}, {}, 8, 40, 1, kKindTovikMModbus);
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.Data, (Bytes{0x21, 1, 0}));  // what the two reads before it placed
}

TEST_F(Engine, ModbusShortReplyFailsTheRequest) {
    UseKind(kKindTovikModbus);
    Relay.ShortenRegister(32);
    auto r = Call([](TProtoPort& p, uint8_t k, TEvents e, TResultHandler h) {
        return RequestReadUst(p, 1, 0, k, e, h);
    });
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.Data.empty());  // nothing half-filled
    // A byte count other than the registers asked for is no answer to this
    // request: an error, not tried again.
    EXPECT_EQ(Counts().SentCount, 1);
    EXPECT_EQ(Counts().ErrorCount, 1);
    EXPECT_EQ(Counts().OkCount, 0);
}

TEST_F(Engine, ModbusFaults) {
    UseKind(kKindTovikModbus);
    Relay.SetRegister(8, 0x1234);
    Relay.SetRegister(9, 0);

    // Bad CRC, then a good reply.
    Relay.CorruptNext(1);
    auto crc = Call([](TProtoPort& p, uint8_t k, TEvents e, TResultHandler h) {
        return RequestReadImax(p, 1, 0, k, e, h);
    });
    EXPECT_TRUE(crc.Ok);
    EXPECT_EQ(crc.Data, (Bytes{0x34, 0x12, 0, 0}));
    EXPECT_EQ(Counts().SentCount, 2);
    EXPECT_EQ(Counts().ErrorCount, 1);
    EXPECT_EQ(Counts().OkCount, 1);

    // Wrong address in bus mode: rejected without another try.
    Stats->ResetStats();
    Port->Bus = true;
    Relay.ReplyFrom(2);
    auto bus = Run({CmdReadImax, -1, 0}, {}, 4, 100, 3, kKindTovikModbus);
    EXPECT_FALSE(bus.Ok);
    EXPECT_EQ(Counts().SentCount, 1);
    EXPECT_EQ(Counts().ErrorCount, 1);

    // No answer at all: three sends.
    Stats->ResetStats();
    Relay.SetAddress(9);
    auto none = Run({CmdReadImax, -1, 0}, {}, 4, 60, 3, kKindTovikModbus);
    EXPECT_FALSE(none.Ok);
    EXPECT_EQ(Counts().SentCount, 3);
    EXPECT_EQ(Counts().OkCount + Counts().ErrorCount, 0);
}

// ---- requests that never reach the line ----

TEST_F(Engine, RequestsThatSendNothing) {
    struct Case {
        const char* Name;
        TCommandDescriptor Command;
        Bytes Data;
        int32_t Tries;
        uint8_t Kind;
    };
    const Case cases[] = {
        {"calibration_on_modbus", {CmdReadCalInfo, -1, 0}, {}, 3, kKindTovikModbus},
        {"tots_read_on_modbus", {CmdReadTots, 27, 2}, {}, 3, kKindTovikMModbus},
        {"unlisted_offset_read", {CmdReadCell, 26, 1}, {}, 3, kKindTovikModbus},
        {"unlisted_offset_write", {CmdWriteCell, 51, 1}, {1}, 3, kKindTovikMModbus},
        {"kind_above_3", {CmdReadState, -1, 0}, {}, 3, 4},
        {"native_no_tries", {CmdReadState, -1, 0}, {}, 0, kKindTovik},
        {"modbus_no_tries", {CmdReadState, -1, 0}, {}, 0, kKindTovikModbus},
        {"payload_too_long", {CmdWriteTask, 1, -1}, Bytes(200, 1), 3, kKindTovik},
    };
    Relay.SetRegister(6, 1);
    for (const auto& c : cases) {
        Relay.SetModbus(IsModbusKind(c.Kind));
        auto r = Run(c.Command, c.Data, 4, 50, c.Tries, c.Kind);
        EXPECT_TRUE(r.Called) << c.Name;
        EXPECT_FALSE(r.Ok) << c.Name;
        EXPECT_TRUE(r.Data.empty()) << c.Name;
    }
    EXPECT_EQ(Counts().SentCount, 0);
    // The next request is the first the relay hears.
    Relay.SetModbus(false);
    Relay.SetReply(CmdReadState, {0, 0, 0, 1});
    EXPECT_TRUE(Run({CmdReadState, -1, 0}, {}, 4, 50, 1, kKindTovik).Ok);
    EXPECT_EQ(Relay.Received(), (std::vector<Bytes>{{1, CmdReadState}}));
}

TEST_F(Engine, ExecutorReleasesTheOutgoingData) {
    auto request = MakeRequest(Port.get(), 1, 7, {CmdSetClock, -1, 0}, std::make_unique<TBlock>(6, 1), 6,
                               nullptr, 0, 10, 3);
    EXPECT_FALSE(ExecuteRequest(*request).Ok());
    EXPECT_EQ(request->TxData, nullptr);

    TProtoRequest portless;
    portless.DeviceKind = kKindTovik;
    portless.Tries = 3;
    EXPECT_FALSE(ExecuteRequest(portless).Ok());
}

// ---- short replies, late replies and the frame trace ----

// A native relay that sends a shorter block than asked: the completion gets
// only what came, and the view shows the rest as unavailable.
TEST_F(Engine, ShortNativeReplyShowsOnlyWhatArrived) {
    TDeviceView view(kKindTovik, TLocaleFormat{",", ".", ":"});
    Bytes setpoints(57, 0);
    setpoints[24] = 1;  // Kтр
    Relay.SetReply(CmdReadUst, setpoints);
    Bytes currents(12, 0);
    const float amps[3] = {1000, 2000, 3000};
    std::memcpy(currents.data(), amps, sizeof amps);
    Relay.SetReply(CmdReadCurrents, Bytes(currents.begin(), currents.begin() + 8));  // Ic missing
    auto viewOf = [&](void (TDeviceView::*handler)(bool, const TBlock*)) {
        return [&view, handler](const TReply& r) { (view.*handler)(r.Ok(), r.Data); };
    };
    ASSERT_TRUE(RequestReadUst(*Port, 1, Owner, Kind, Events, viewOf(&TDeviceView::OnSetpoints)));
    ASSERT_TRUE(RequestReadCurrents(*Port, 1, Owner, Kind, Events, viewOf(&TDeviceView::OnCurrents)));
    ASSERT_TRUE(Dispatch());
    ASSERT_TRUE(Dispatch());
    EXPECT_EQ(view.Label(LabelKtr), "Kтр = 1");
    EXPECT_EQ(view.Label(LabelTokA), "Ia = 1,00 A");
    EXPECT_EQ(view.Label(LabelTokB), "Ib = 2,00 A");
    EXPECT_EQ(view.Label(LabelTokC), "Ic = Н/Д");
    EXPECT_EQ(view.Label(LabelDisb), "Di = Н/Д");
    EXPECT_EQ(Counts().OkCount, 2);  // a short reply is still an answer
}

// The relay answers the protection timers late, while the alarm counters
// are being read: the timer words never show as counters.
TEST_F(Engine, LateModbusReplyOfAnotherSizeNeverShowsAsValues) {
    UseKind(kKindTovikMModbus);
    auto late = std::make_shared<Bytes>();
    Pty.SetHandler([late](const Bytes& f) -> Bytes {
        const uint16_t reg = static_cast<uint16_t>(f.at(2) << 8 | f.at(3));
        Bytes timers{16};
        for (int i = 0; i < 8; ++i) timers.insert(timers.end(), {0, 50});
        if (reg == 352) *late = test::ModbusFrame(1, 3, timers);  // answered too late
        if (reg == 384) return *late;
        return {};
    });
    TDeviceView view(kKindTovikMModbus, TLocaleFormat{",", ".", ":"});
    auto viewOf = [&](void (TDeviceView::*handler)(bool, const TBlock*)) {
        return [&view, handler](const TReply& r) { (view.*handler)(r.Ok(), r.Data); };
    };
    ASSERT_TRUE(RequestReadTimers(*Port, 1, Owner, Kind, Events, viewOf(&TDeviceView::OnProtectionTimers)));
    ASSERT_TRUE(
        RequestReadAlarmCounters(*Port, 1, Owner, Kind, Events, viewOf(&TDeviceView::OnAlarmCounters)));
    // Each try of the timer read runs out; then the counters are asked.
    ASSERT_TRUE(Dispatch());
    ASSERT_TRUE(Dispatch());
    for (TLabelId id :
         {LabelAvnMin, LabelAvnNom, LabelAvnMax, LabelAvnDis, LabelAvnPha, LabelAvnOts, LabelAvnRizo})
        EXPECT_EQ(view.Label(id), std::string(LabelInfo(id).Prefix) + "Н/Д") << LabelInfo(id).Name;
    EXPECT_EQ(view.Label(LabelMinLoadT), "Недогрузка по Imin = Н/Д");
    EXPECT_EQ(Pty.RequestCount(), 4u);  // the foreign reply is not tried again
    EXPECT_EQ(Counts().ErrorCount, 1);
    EXPECT_EQ(Counts().OkCount, 0);
}

// After a failed native request the next one waits for a quiet line; a late
// native reply that comes meanwhile is dropped.
TEST_F(Engine, NativeRequestWaitsForAQuietLineAfterAFailure) {
    auto trace = std::make_shared<test::TraceRecorder>();
    Port->SetFrameTrace(trace);
    Port->ReplyTimeout = 100;
    Relay.SetReply(CmdReadState, {0, 0, 0, 5});
    Relay.IgnoreNext(1);
    auto noAnswer = [&] {
        return trace->WaitFor(
            [](const auto& records) {
                return !records.empty() && records.back().Outcome.Status == TReplyStatus::NoAnswer;
            },
            20);
    };
    std::vector<TDelivered> outcomes;
    auto keep = [&](const TReply& r) {
        outcomes.push_back({true, r.Ok(), r.Data != nullptr, r.Data ? *r.Data : Bytes{}});
    };
    auto request =
        MakeRequest(Port.get(), 1, kKindTovik, {CmdReadState, -1, 0}, nullptr, 0, nullptr, 0, 60, 1);
    Port->PutJob(MakeJob(std::move(request), nullptr, nullptr, Owner, Events, ExecuteRequest, keep));
    Clock.AdvanceUntil(61, noAnswer);
    ASSERT_TRUE(RequestReadState(*Port, 1, Owner, Kind, Events, keep));
    const Bytes lateReply = BuildNativeFrame(Bytes{1, 23, 0, 0, 0, 9});
    Pty.Inject(lateReply);
    ASSERT_TRUE(trace->WaitFor([&](const auto& records) {
        Bytes dropped;
        for (const auto& r : records)
            if (r.Outcome.Status == TReplyStatus::Late)
                dropped.insert(dropped.end(), r.Bytes.begin(), r.Bytes.end());
        return dropped == lateReply;
    }));
    EXPECT_EQ(Pty.RequestCount(), 1u);  // the second request still waits
    Clock.AdvanceUntil(101, [&] { return Pty.WaitForRequests(2, 20); });
    ASSERT_TRUE(Dispatch());
    ASSERT_TRUE(Dispatch());
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_FALSE(outcomes[0].Ok);
    EXPECT_TRUE(outcomes[1].Ok);
    EXPECT_EQ(outcomes[1].Data, (Bytes{0, 0, 0, 5}));
}

TEST_F(Engine, NativeFramesAreTraced) {
    auto trace = std::make_shared<test::TraceRecorder>();
    Port->SetFrameTrace(trace);
    Relay.SetReply(CmdReadClock, {14, 5, 9, 7, 3, 26});
    Relay.CorruptNext(1);
    auto clock = Call([](TProtoPort& p, uint8_t k, TEvents e, TResultHandler h) {
        return RequestReadClock(p, 1, 0, k, e, h);
    });
    ASSERT_TRUE(clock.Ok);
    const Bytes good = BuildNativeFrame(Bytes{1, 24, 14, 5, 9, 7, 3, 26});
    Bytes bad = good;
    bad.back() ^= 0x5A;
    auto records = trace->Snapshot();
    // The damaged frame is dropped and the try waits on for a good one
    // until its time runs out; the next try is answered.
    struct Expected {
        TTraceDirection Direction;
        TReplyStatus Outcome;
        int32_t Try;
    };
    const Expected expected[] = {
        {TTraceDirection::Sent, TReplyStatus::Answered, 1},
        {TTraceDirection::Received, TReplyStatus::Damaged, 1},
        {TTraceDirection::Sent, TReplyStatus::Answered, 2},
        {TTraceDirection::Received, TReplyStatus::Answered, 2},
    };
    ASSERT_EQ(records.size(), std::size(expected));
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].Direction, expected[i].Direction) << i;
        EXPECT_EQ(records[i].Outcome.Status, expected[i].Outcome) << i;
        EXPECT_EQ(records[i].Try, expected[i].Try) << i;
        EXPECT_EQ(records[i].Command.Code, CmdReadClock) << i;
        EXPECT_EQ(records[i].DeviceKind, kKindTovik) << i;
        EXPECT_EQ(records[i].Address, 1) << i;
    }
    EXPECT_EQ(records[0].Bytes, BuildNativeFrame(Bytes{1, 24}));
    EXPECT_EQ(records[1].Bytes, bad);
    EXPECT_EQ(records[3].Bytes, good);

    // A reply to another command, and one from another device on the bus.
    trace->Clear();
    Relay.AnswerAs(CmdReadImax);
    EXPECT_FALSE(Run({CmdReadState, -1, 0}, {}, 4, 60, 1, kKindTovik).Ok);
    records = trace->Snapshot();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].Outcome.Status, TReplyStatus::Foreign);
    trace->Clear();
    Relay.AnswerAs(CmdReadState);
    Relay.ReplyFrom(2);
    Port->Bus = true;
    EXPECT_FALSE(Run({CmdReadState, -1, 0}, {}, 4, 60, 1, kKindTovik).Ok);
    records = trace->Snapshot();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].Outcome.Status, TReplyStatus::Foreign);
}

// ---- stopping a port ----

// The clock stands still here: only the stop can end the wait for a reply.
TEST_F(Engine, StoppingTheWorkerEndsTheExchangeAtOnce) {
    for (uint8_t kind : {kKindTovik, kKindTovikModbus}) {
        UseKind(kind);
        Relay.SetAddress(9);  // silence
        Port->ReplyTimeout = 10000;
        const size_t before = Pty.RequestCount();
        RequestReadState(*Port, 1, Owner, kind, Events, [](const TReply&) { FAIL() << "delivered"; });
        ASSERT_TRUE(Pty.WaitForRequests(before + 1));
        EXPECT_EQ(Pty.RequestCount(), before + 1);

        auto stopped = std::async(std::launch::async, [this] { Port->StopWorker(); });
        if (!test::WaitUntil([&] { return stopped.wait_for(0s) == std::future_status::ready; })) {
            ADD_FAILURE() << "the stop did not end the exchange, kind " << int(kind);
            while (stopped.wait_for(10ms) != std::future_status::ready) Clock.Advance(1000000);
        }
        EXPECT_TRUE(Events->IsEmpty());
        EXPECT_EQ(Counts().OkCount, 0);
        OpenPort();
    }
}

// ---- the builder table ----

using TBuild =
    std::function<bool(TProtoPort&, uint8_t address, int32_t owner, uint8_t kind, TEvents, TResultHandler)>;

struct BuilderCase {
    const char* Name;
    TBuild Queue;
    TCommandDescriptor Command;
    Bytes Sent;        // data bytes that go on the line
    size_t BlockSize;  // size of the outgoing block (0: none)
    int32_t RxLength;
    int32_t Extra;
    int Preset = -1;  // reply block byte preset by the builder
    uint8_t PresetValue = 0;
};

const TTaskEntry kEntry{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

#define BUILD(expr) \
    [](TProtoPort& p, uint8_t a, int32_t o, uint8_t k, TEvents e, TResultHandler h) { return expr; }

const BuilderCase kBuilders[] = {
    {"Start", BUILD(RequestStart(p, a, o, k, e, h)), {1, -1, 0}, {}, 0, 0, 200},
    {"Stop", BUILD(RequestStop(p, a, o, k, e, h)), {2, -1, 0}, {}, 0, 0, 200},
    {"ReadUst", BUILD(RequestReadUst(p, a, o, k, e, h)), {3, -1, 0}, {}, 0, 57, 450},
    {"ReadCellModel", BUILD(RequestReadCell(p, a, o, k, e, h, 19)), {4, 49, 1}, {}, 0, 8, 200},
    {"ReadCellTots", BUILD(RequestReadCell(p, a, o, k, e, h, 23)), {34, 27, 2}, {}, 0, 8, 200},
    {"WriteCellDate",
     BUILD(RequestWriteCell(p, a, o, k, e, h, 20, TUstRaw{7, 3, 26, 0xEE, 0xEE, 0, 0, 0})),
     {6, 50, 3},
     {7, 3, 26},
     8,
     0,
     200},
    {"WriteCellAuto",
     BUILD(RequestWriteCell(p, a, o, k, e, h, 18, TUstRaw{1, 0xEE, 0, 0, 0, 0, 0, 0})),
     {6, 48, 1},
     {1},
     8,
     0,
     200},
    {"WriteCellDinProtocol",
     BUILD(RequestWriteCell(p, a, o, k, e, h, 24, TUstRaw{3, 0, 0xEE, 0, 0, 0, 0, 0})),
     {37, 26, 2},
     {3, 0},
     8,
     0,
     200},
    {"ReadTimers", BUILD(RequestReadTimers(p, a, o, k, e, h)), {7, -1, 0}, {}, 0, 17, 450},
    {"ReadAlarmCount", BUILD(RequestReadAlarmCount(p, a, o, k, e, h)), {11, -1, 0}, {}, 0, 2, 700},
    {"ReadAlarm", BUILD(RequestReadAlarm(p, a, o, k, e, h, 4)), {12, 4, -1}, {}, 0, 19, 700},
    {"ClearAlarms", BUILD(RequestClearAlarms(p, a, o, k, e, h)), {13, -1, 0}, {}, 0, 0, 200},
    {"ReadCurrents", BUILD(RequestReadCurrents(p, a, o, k, e, h)), {14, -1, 0}, {}, 0, 12, 200},
    {"ReadImax", BUILD(RequestReadImax(p, a, o, k, e, h)), {17, -1, 0}, {}, 0, 4, 200},
    {"ReadTask", BUILD(RequestReadTask(p, a, o, k, e, h, 9)), {19, 9, -1}, {}, 0, 15, 700, 12, 9},
    {"WriteTask",
     BUILD(RequestWriteTask(p, a, o, k, e, h, 3, kEntry)),
     {20, 3, -1},
     {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
     12,
     0,
     700},
    {"ReadAlarmCounters", BUILD(RequestReadAlarmCounters(p, a, o, k, e, h)), {21, -1, 0}, {}, 0, 14, 450},
    {"ResetAlarmCounters",
     BUILD(RequestResetAlarmCounters(p, a, o, k, e, h)),
     {22, -1, 0},
     Bytes(14, 0),
     14,
     0,
     700},
    {"ReadState", BUILD(RequestReadState(p, a, o, k, e, h)), {23, -1, 0}, {}, 0, 4, 200},
    {"ReadClock", BUILD(RequestReadClock(p, a, o, k, e, h)), {24, -1, 0}, {}, 0, 6, 200},
    {"SetClock",
     BUILD(RequestSetClock(p, a, o, k, e, h, TLocalTime{14, 5, 9, 7, 3, 2026})),
     {25, -1, 0},
     {14, 5, 9, 7, 3, 26},
     6,
     0,
     200},
    {"SetClockYear2100",
     BUILD(RequestSetClock(p, a, o, k, e, h, TLocalTime{0, 0, 0, 1, 1, 2100})),
     {25, -1, 0},
     {0, 0, 0, 1, 1, 100},
     6,
     0,
     200},
    {"ReadCalInfo", BUILD(RequestReadCalInfo(p, a, o, k, e, h)), {26, -1, 0}, {}, 0, 3, 200},
    {"DeleteTask", BUILD(RequestDeleteTask(p, a, o, k, e, h, 2, 5)), {30, -1, 0}, {2, 5}, 2, 0, 700},
    {"AddTask",
     BUILD(RequestAddTask(p, a, o, k, e, h, 5, kEntry)),
     {31, -1, 0},
     {5, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
     13,
     0,
     700},
    {"ClearTasks", BUILD(RequestClearTasks(p, a, o, k, e, h)), {32, -1, 0}, {}, 0, 0, 200},
    {"ReadStatistics", BUILD(RequestReadStatistics(p, a, o, k, e, h)), {33, -1, 0}, {}, 0, 24, 200},
};

#undef BUILD

class Builders : public Engine, public ::testing::WithParamInterface<BuilderCase> {};

// What the builder puts on the queue.
TEST_P(Builders, QueuedJob) {
    const BuilderCase& c = GetParam();
    TProtoUART idle(Stats);
    idle.StopWorker();  // keep the job on the queue
    bool called = false;
    ASSERT_TRUE(c.Queue(idle, 0x42, 17, kKindTovikM, Events, [&](const TReply&) { called = true; }));
    TProtoJob job;
    ASSERT_TRUE(idle.TakeJob(job));
    EXPECT_EQ(idle.QueueLength(), 0u);

    ASSERT_TRUE(job.Request);
    const TProtoRequest& r = *job.Request;
    EXPECT_EQ(r.Port, &idle);
    EXPECT_EQ(r.Address, 0x42);
    EXPECT_EQ(r.DeviceKind, kKindTovikM);
    EXPECT_EQ(r.Command.Code, c.Command.Code);
    EXPECT_EQ(r.Command.Param1, c.Command.Param1);
    EXPECT_EQ(r.Command.Param2, c.Command.Param2);
    EXPECT_EQ(r.Tries, 3);
    EXPECT_EQ(r.ExtraTimeout, c.Extra);
    EXPECT_EQ(r.TxLength, static_cast<int32_t>(c.Sent.size()));
    if (c.BlockSize == 0) {
        EXPECT_EQ(r.TxData, nullptr);
    } else {
        ASSERT_NE(r.TxData, nullptr);
        EXPECT_EQ(r.TxData->size(), c.BlockSize);
        EXPECT_EQ(Bytes(r.TxData->begin(), r.TxData->begin() + static_cast<std::ptrdiff_t>(c.Sent.size())),
                  c.Sent);
    }
    EXPECT_EQ(job.TxData, r.TxData.get());
    EXPECT_EQ(r.RxLength, c.RxLength);
    if (c.RxLength == 0) {
        EXPECT_EQ(job.Result, nullptr);
        EXPECT_EQ(r.RxBuffer, nullptr);
    } else {
        ASSERT_NE(job.Result, nullptr);
        EXPECT_EQ(job.Result->size(), static_cast<size_t>(c.RxLength));
        EXPECT_EQ(r.RxBuffer, job.Result->data());
        Bytes expected(static_cast<size_t>(c.RxLength), 0);
        if (c.Preset >= 0) expected[static_cast<size_t>(c.Preset)] = c.PresetValue;
        EXPECT_EQ(*job.Result, expected);
    }
    EXPECT_EQ(job.OwnerId, 17);
    EXPECT_EQ(job.Results, Events);
    EXPECT_TRUE(job.Executor);
    ASSERT_TRUE(job.OnResult);
    job.OnResult(TReply{kAnswered, nullptr});
    EXPECT_TRUE(called);
}

// What reaches the line and comes back, on a native relay.
TEST_P(Builders, OverTheLine) {
    const BuilderCase& c = GetParam();
    const Bytes reply = Pattern(static_cast<size_t>(c.RxLength), 0x30);
    Relay.SetReply(c.Command.Code, reply);
    auto out = std::make_shared<TDelivered>();
    ASSERT_TRUE(c.Queue(*Port, 1, Owner, kKindTovik, Events, [out](const TReply& r) {
        out->Called = true;
        out->Ok = r.Ok();
        out->HasData = r.Data != nullptr;
        if (r.Data) out->Data = *r.Data;
    }));
    ASSERT_TRUE(Dispatch());
    EXPECT_TRUE(out->Called);
    EXPECT_TRUE(out->Ok);
    EXPECT_EQ(out->HasData, c.RxLength > 0);
    EXPECT_EQ(out->Data, reply);

    Bytes payload{1, c.Command.Code};
    if (c.Command.Param1 != -1) {
        payload.push_back(static_cast<uint8_t>(c.Command.Param1));
        if (c.Command.Param2 != -1) payload.push_back(static_cast<uint8_t>(c.Command.Param2));
    }
    payload.insert(payload.end(), c.Sent.begin(), c.Sent.end());
    EXPECT_EQ(Relay.Received(), std::vector<Bytes>{payload});
    EXPECT_EQ(Counts().SentCount, 1);
    EXPECT_EQ(Counts().OkCount, 1);
}

// A configuration file may hold any bus number and kind byte: nothing is
// ever queued for an address outside 1..250 (0 is the ModBus broadcast) or
// for a kind the program does not know, while both ends of the range are.
TEST_P(Builders, RefuseAddressesOutsideTheBusAndUnknownKinds) {
    const BuilderCase& c = GetParam();
    TProtoUART idle(Stats);
    idle.StopWorker();  // keep what is queued on the queue
    bool called = false;
    auto handler = [&](const TReply&) { called = true; };
    for (uint8_t address : {0, 251, 255})
        EXPECT_FALSE(c.Queue(idle, address, 17, kKindTovikModbus, Events, handler)) << int(address);
    for (uint8_t kind : {4, 255}) EXPECT_FALSE(c.Queue(idle, 1, 17, kind, Events, handler)) << int(kind);
    EXPECT_EQ(idle.QueueLength(), 0u);
    EXPECT_FALSE(called);

    for (uint8_t address : {1, 250}) {
        ASSERT_TRUE(c.Queue(idle, address, 17, kKindTovikModbus, Events, handler)) << int(address);
        TProtoJob job;
        ASSERT_TRUE(idle.TakeJob(job));
        EXPECT_EQ(job.Request->Address, address);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Builders, ::testing::ValuesIn(kBuilders),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(Engine, CellBuildersRefuseRowsOutsideTheTable) {
    TProtoUART idle(Stats);
    idle.StopWorker();
    for (int row : {-1, 25, 1000}) {
        EXPECT_FALSE(RequestReadCell(idle, 1, 0, kKindTovik, Events, {}, row));
        EXPECT_FALSE(RequestWriteCell(idle, 1, 0, kKindTovik, Events, {}, row, TUstRaw{}));
    }
    EXPECT_EQ(idle.QueueLength(), 0u);
}

TEST_F(Engine, BuilderWithoutHandlerStillRuns) {
    ASSERT_TRUE(RequestStart(*Port, 1, Owner, kKindTovik, Events, {}));
    ASSERT_TRUE(Dispatch());
    EXPECT_EQ(Relay.Received(), (std::vector<Bytes>{{1, 1}}));
    EXPECT_EQ(Counts().OkCount, 1);
}

TEST(LocalTime, FieldsOfTheLocalClock) {
    std::tm tm{};
    tm.tm_year = 2026 - 1900;
    tm.tm_mon = 2;
    tm.tm_mday = 7;
    tm.tm_hour = 14;
    tm.tm_min = 5;
    tm.tm_sec = 9;
    tm.tm_isdst = -1;
    const TLocalTime t = ToLocalTime(std::mktime(&tm));
    EXPECT_EQ(t.Year, 2026);
    EXPECT_EQ(t.Month, 3);
    EXPECT_EQ(t.Day, 7);
    EXPECT_EQ(t.Hour, 14);
    EXPECT_EQ(t.Minute, 5);
    EXPECT_EQ(t.Second, 9);
}

}  // namespace
}  // namespace tovik
