#include "lzh/LhFormat.h"

#include <algorithm>
#include <vector>

namespace lzh {

namespace {

// Depths of a plain Huffman tree built with the two-queue method over sorted leaves.
int buildDepths(const std::vector<std::pair<uint32_t, int>> &leaves, int n, uint8_t *len)
{
    const int m = int(leaves.size());
    std::vector<uint64_t> weight(size_t(2 * m));
    std::vector<int> parent(size_t(2 * m), -1);
    for (int i = 0; i < m; ++i)
        weight[size_t(i)] = leaves[size_t(i)].first;
    int leafNext = 0, nodeNext = m, nodeEnd = m;
    auto takeSmallest = [&]() {
        if (leafNext < m && (nodeNext >= nodeEnd || weight[size_t(leafNext)] <= weight[size_t(nodeNext)]))
            return leafNext++;
        return nodeNext++;
    };
    for (int k = 0; k < m - 1; ++k) {
        const int a = takeSmallest();
        const int b = takeSmallest();
        weight[size_t(nodeEnd)] = weight[size_t(a)] + weight[size_t(b)];
        parent[size_t(a)] = parent[size_t(b)] = nodeEnd;
        ++nodeEnd;
    }
    // Internal nodes were made in order, so a parent always has a higher index.
    std::vector<int> depth(size_t(nodeEnd), 0);
    for (int i = nodeEnd - 2; i >= 0; --i)
        depth[size_t(i)] = depth[size_t(parent[size_t(i)])] + 1;
    int maxDepth = 0;
    std::fill(len, len + n, uint8_t(0));
    for (int i = 0; i < m; ++i) {
        maxDepth = std::max(maxDepth, depth[size_t(i)]);
        len[leaves[size_t(i)].second] = uint8_t(std::min(depth[size_t(i)], 255));
    }
    return maxDepth;
}

} // namespace

void huffmanLengths(const uint32_t *freq, int n, uint8_t *len)
{
    std::vector<std::pair<uint32_t, int>> leaves;
    for (int i = 0; i < n; ++i)
        if (freq[i])
            leaves.emplace_back(freq[i], i);
    std::sort(leaves.begin(), leaves.end());
    // Too deep a tree: flatten the weights and build again. Rare, and each pass halves
    // the spread of the weights, so it ends quickly.
    while (buildDepths(leaves, n, len) > kMaxCodeBits) {
        for (auto &leaf : leaves)
            leaf.first = (leaf.first >> 1) | 1;
        std::sort(leaves.begin(), leaves.end());
    }
}

void canonicalCodes(const uint8_t *len, int n, uint16_t *code)
{
    uint32_t count[kMaxCodeBits + 1] = {};
    for (int i = 0; i < n; ++i)
        ++count[len[i]];
    uint32_t start[kMaxCodeBits + 2] = {};
    uint32_t total = 0;
    for (int b = 1; b <= kMaxCodeBits; ++b) {
        start[b] = total;
        total += count[b] << (kMaxCodeBits - b);
    }
    for (int i = 0; i < n; ++i) {
        const int b = len[i];
        if (b == 0) {
            code[i] = 0;
            continue;
        }
        code[i] = uint16_t(start[b] >> (kMaxCodeBits - b));
        start[b] += 1u << (kMaxCodeBits - b);
    }
}

} // namespace lzh
