// The prediction of the next X or Y difference in LAZ chunks: the middle of
// the last five differences, as LASzip keeps it. A sorted window of five
// alternately loses its largest and its smallest value for the new one,
// which is not quite the median of the last five but is what the encoder
// predicted with. Both the point-wise and the layered items use it.
#pragma once

#include <cstdint>

namespace kestranov {

class RunningMedian5 {
public:
    std::int32_t get() const { return v_[2]; }

    void add(std::int32_t d)
    {
        // The four that stay, sorted, then d put among them. Without
        // branches: the differences come in no order a predictor learns.
        const std::int32_t* a = v_ + (drop_largest_ ? 0 : 1);
        const std::int32_t a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3], middle = v_[2];
        v_[0] = low(a0, d);
        v_[1] = high(a0, low(a1, d));
        v_[2] = high(a1, low(a2, d));
        v_[3] = high(a2, low(a3, d));
        v_[4] = high(a3, d);
        // The window leans to the side d went: the next value displaces
        // from the other end (a tie leaves the smallest to go next).
        drop_largest_ = d < middle || (!drop_largest_ && d == middle);
    }

private:
    static std::int32_t low(std::int32_t a, std::int32_t b) { return b < a ? b : a; }
    static std::int32_t high(std::int32_t a, std::int32_t b) { return a < b ? b : a; }

    std::int32_t v_[5] = {0, 0, 0, 0, 0};
    bool drop_largest_ = true;
};

}  // namespace kestranov
