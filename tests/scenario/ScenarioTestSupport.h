#pragma once

#include <QTest>

#include <gtest/gtest.h>

#include <chrono>

namespace scenariotest {

// Runs the Qt event loop until pred() holds or the timeout passes; returns pred().
template <typename Predicate> bool waitFor(Predicate pred, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return pred();
        QTest::qWait(5);
    }
    return true;
}

} // namespace scenariotest
