// SPDX-License-Identifier: MIT
#pragma once

#include "serial_port_cycle.h"

#include <functional>

namespace korvantel::testing {

// Passes every write on to a real control and runs `interruption` just before
// the output numbered `at` (from 0): a line hung up or an adapter pulled
// between two bytes of a frame.
class InterruptedControl final : public SerialControl
{
public:
    InterruptedControl(SerialControl &inner, int at, std::function<void()> interruption)
        : m_inner(inner), m_left(at), m_interruption(std::move(interruption))
    {
    }

    PropertyWrite setCommPort(std::int16_t port) override { return m_inner.setCommPort(port); }
    PropertyWrite setSettings(const QString &settings) override { return m_inner.setSettings(settings); }
    PropertyWrite setInputLen(std::int16_t length) override { return m_inner.setInputLen(length); }
    PropertyWrite setPortOpen(bool open) override { return m_inner.setPortOpen(open); }
    PropertyWrite drainOutput() override { return m_inner.drainOutput(); }
    PropertyWrite setOutput(const QString &character) override
    {
        if (m_left-- == 0)
            m_interruption();
        return m_inner.setOutput(character);
    }

private:
    SerialControl &m_inner;
    int m_left;
    std::function<void()> m_interruption;
};

}  // namespace korvantel::testing
