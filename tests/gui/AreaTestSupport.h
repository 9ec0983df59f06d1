#pragma once

#include "dsp/AreaMapping.h"

#include <ostream>

// Comparing and printing area edges in the area tests.
namespace varnel {

inline bool operator==(const AreaEdges& a, const AreaEdges& b)
{
    return a.Area1Left == b.Area1Left && a.Area1Top == b.Area1Top && a.Area1Right == b.Area1Right &&
           a.Area1Bottom == b.Area1Bottom && a.Area2Left == b.Area2Left &&
           a.Area2Top == b.Area2Top && a.Area2Right == b.Area2Right &&
           a.Area2Bottom == b.Area2Bottom;
}

inline void PrintTo(const AreaEdges& e, std::ostream* os)
{
    *os << "S1(" << e.Area1Left << "," << e.Area1Top << "," << e.Area1Right << "," << e.Area1Bottom
        << ") S2(" << e.Area2Left << "," << e.Area2Top << "," << e.Area2Right << ","
        << e.Area2Bottom << ")";
}

namespace test {

// Edges whose two rectangles share their frequency rows, as the window keeps them.
inline AreaEdges Edges(int l1, int t1, int r1, int b1, int l2, int r2)
{
    return AreaEdges{l1, t1, r1, b1, l2, t1, r2, b1};
}

// The start-up area of the 560 x 340 and 196 x 340 screens.
inline const AreaEdges kStartEdges = Edges(140, 56, 420, 283, 0, 98);

} // namespace test
} // namespace varnel
