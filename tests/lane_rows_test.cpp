// Rows of a table loaded whole and transposed in registers (LoadRows, the
// lane march's read of the bracket fit), on every instruction set compiled
// here: register m must hold number m of each lane's own row, and no load may
// reach further past a row than the N - 1 numbers LoadRows allows (the
// table ends there, for the address sanitizer to see).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "lane_rows_test.cpp"
// Before Highway's headers, which read the instruction sets left out.
#include "physics/march_targets.h"

#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>
#include <hwy/tests/hwy_gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "physics/march_packs-inl.h"

HWY_BEFORE_NAMESPACE();
namespace qav {
namespace HWY_NAMESPACE {

// Count numbers of each lane's row, for rows that lanes reach in no order,
// at offsets that are no multiple of a register's width; one register and
// two side by side.
template <std::size_t Count>
void CheckRows() {
    const D d;
    const hn::RebindToSigned<D> di;
    constexpr std::size_t N = hn::MaxLanes(D());
    constexpr std::size_t Rows = 37;
    constexpr std::size_t Width = Count + 3;
    constexpr std::size_t Read = (Count + N - 1) / N * N;
    std::vector<double> table((Rows - 1) * Width + 2 + Read);
    for (std::size_t i = 0; i < table.size(); ++i) table[i] = static_cast<double>(i) + 0.25;
    for (std::size_t start = 0; start < Rows; ++start) {
        HWY_ALIGN std::int64_t at[2][N];
        for (std::size_t j = 0; j < 2; ++j) {
            for (std::size_t l = 0; l < N; ++l) {
                const std::size_t row = (start + 11 * l + 5 * j) % Rows;
                at[j][l] = static_cast<std::int64_t>(row * Width + (l + j) % 3);
            }
        }
        const hn::Vec<hn::RebindToSigned<D>> offsets[2] = {hn::Load(di, at[0]), hn::Load(di, at[1])};
        Pack<D, 2> c[Count];
        LoadRows(table.data(), offsets, c);
        V alone[Count];
        LoadRows(table.data(), offsets[1], alone);
        HWY_ALIGN double lanes[N];
        for (std::size_t m = 0; m < Count; ++m) {
            for (std::size_t j = 0; j < 2; ++j) {
                hn::Store(c[m].v[j], d, lanes);
                for (std::size_t l = 0; l < N; ++l) {
                    ASSERT_EQ(lanes[l], table[static_cast<std::size_t>(at[j][l]) + m])
                        << "number " << m << " of register " << j << ", lane " << l << " of " << N;
                }
            }
            hn::Store(alone[m], d, lanes);
            for (std::size_t l = 0; l < N; ++l)
                ASSERT_EQ(lanes[l], table[static_cast<std::size_t>(at[1][l]) + m]);
        }
    }
}

// The bracket fit's row lengths: 8 and 10 numbers (one polynomial), 20 (two).
void EachLaneGetsItsOwnRow() {
    CheckRows<8>();
    CheckRows<10>();
    CheckRows<20>();
}

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace qav
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace qav {

HWY_BEFORE_TEST(LaneRows);
HWY_EXPORT_AND_TEST_P(LaneRows, EachLaneGetsItsOwnRow);

}  // namespace qav
#endif
