// The protocol component connected over a pseudo-terminal to an emulated
// register, with the request log as the register received it.
#pragma once

#include "OmvekCP.h"
#include "PtyRegister.h"
#include "TestWait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

using namespace std::chrono_literals;

// A bound that an answer from the emulator meets by far, on a loaded shared
// machine too (a passing test never waits it out); commands that are meant
// to time out lower the time-out themselves.
constexpr std::uint32_t kAnswerTimeOut = 30000;

inline TArrayOfByte Concat(TArrayOfByte a, const TArrayOfByte& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class RegisterFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        kkm::emu::PtyOptions options;
        options.Publish = false;
        options.LogSink = [](const std::string&) {};
        QString error;
        ASSERT_TRUE(reg.Start(options, &error)) << error.toStdString();
        ASSERT_TRUE(Attach());
        reg.ClearRequests();
    }

    // Opens the register's current port and connects. Once the register has
    // answered it knows a client is there, so messages it sends from then on
    // are not thrown away for want of a listener.
    bool Attach()
    {
        if (proto.Port.Opened)
            proto.Port.Close();
        if (proto.Port.Open(reg.SlavePath(), 115200) != prOk)
            return false;
        proto.setTimeOut(kAnswerTimeOut);
        return proto.Connect(2, 1, 5, 5) == rcOk;
    }

    // The body (AR AT PID Code payload) of the n-th request since the log was
    // last cleared, counted from 1.
    TArrayOfByte Request(std::size_t n)
    {
        EXPECT_TRUE(reg.WaitForRequests(n, 30s));
        const auto log = reg.Requests();
        return n <= log.size() ? log[n - 1].Body : TArrayOfByte{};
    }

    // What the last command sent: its header with the PID it took, then the
    // payload.
    TArrayOfByte Sent(std::uint8_t code, const TArrayOfByte& payload) const
    {
        return Concat({2, 1, proto.LastPID(), code}, payload);
    }

    bool Authorize()
    {
        return proto.Authorize(2, 1, 1, 1) == rcOk; // user n's password is n
    }

    kkm::emu::PtyRegister reg;
    TOmvekCP proto;
};
