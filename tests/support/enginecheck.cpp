#include "enginecheck.h"

#include <gtest/gtest.h>

void expectSame(const Outcome &exact, const Outcome &other)
{
    EXPECT_EQ(differenceBetween(exact, other), "");
}

void expectPlainPathsAgree(const Outcome &exact, const Case &test)
{
    for (const Path path : PlainPaths)
        expectSame(exact, run(test, path));
}
