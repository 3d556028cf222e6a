#pragma once

#include <QHashFunctions>

#include <algorithm>
#include <cstddef>
#include <unordered_map>

// Removes, in place, every entry equal to an earlier one; the first occurrence stays.
template <class List> void removeRepeatsInPlace(List& list) {
    // Linear: each entry is looked for among the entries kept so far through its hash (qHash,
    // found by argument-dependent lookup), then compared with ==. The first occurrence of every
    // value stays and the order is kept.
    std::unordered_multimap<std::size_t, std::size_t> kept; // hash -> position among the kept
    std::size_t n = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(list.size()); ++i) {
        const std::size_t h = qHash(list[i], 0);
        const auto [first, last] = kept.equal_range(h);
        const bool earlier =
            std::any_of(first, last, [&](const auto& k) { return list[k.second] == list[i]; });
        if (earlier)
            continue;
        if (n != i)
            list[n] = std::move(list[i]);
        kept.emplace(h, n++);
    }
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(n), list.end());
}
