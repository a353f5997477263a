#include "lzh/LhFormat.h"

#include <algorithm>
#include <cstring>

namespace lzh {

namespace {

struct Leaf
{
    uint32_t weight;
    uint32_t symbol;
};

// Sorts the leaves by weight, equal weights keeping their order: a radix sort over as
// many bytes as the largest weight has. With the leaves in symbol order this is the order
// of (weight, symbol) pairs, without a comparison sort for every block.
void sortLeaves(Leaf *leaves, Leaf *spare, int m)
{
    uint32_t all = 0;
    for (int i = 0; i < m; ++i)
        all |= leaves[i].weight;
    Leaf *from = leaves, *to = spare;
    for (int shift = 0; shift < 32 && (all >> shift) != 0; shift += 8) {
        uint32_t start[257] = {};
        for (int i = 0; i < m; ++i)
            ++start[((from[i].weight >> shift) & 0xFF) + 1];
        for (int b = 0; b < 256; ++b)
            start[b + 1] += start[b];
        for (int i = 0; i < m; ++i)
            to[start[(from[i].weight >> shift) & 0xFF]++] = from[i];
        std::swap(from, to);
    }
    if (from != leaves)
        std::memcpy(leaves, from, sizeof(Leaf) * size_t(m));
}

// Depths of a plain Huffman tree built with the two-queue method over sorted leaves.
int buildDepths(const Leaf *leaves, int m, int n, uint8_t *len)
{
    uint64_t weight[2 * kNC];
    int parent[2 * kNC];
    int depth[2 * kNC];
    for (int i = 0; i < m; ++i)
        weight[i] = leaves[i].weight;
    int leafNext = 0, nodeNext = m, nodeEnd = m;
    auto takeSmallest = [&]() {
        if (leafNext < m && (nodeNext >= nodeEnd || weight[leafNext] <= weight[nodeNext]))
            return leafNext++;
        return nodeNext++;
    };
    for (int k = 0; k < m - 1; ++k) {
        const int a = takeSmallest();
        const int b = takeSmallest();
        weight[nodeEnd] = weight[a] + weight[b];
        parent[a] = parent[b] = nodeEnd;
        ++nodeEnd;
    }
    // Internal nodes were made in order, so a parent always has a higher index.
    depth[nodeEnd - 1] = 0;
    for (int i = nodeEnd - 2; i >= 0; --i)
        depth[i] = depth[parent[i]] + 1;
    int maxDepth = 0;
    std::fill(len, len + n, uint8_t(0));
    for (int i = 0; i < m; ++i) {
        maxDepth = std::max(maxDepth, depth[i]);
        len[leaves[i].symbol] = uint8_t(std::min(depth[i], 255));
    }
    return maxDepth;
}

} // namespace

void huffmanLengths(const uint32_t *freq, int n, uint8_t *len)
{
    uint32_t weight[kNC];
    std::copy(freq, freq + n, weight);
    Leaf leaves[kNC], spare[kNC];
    for (;;) {
        int m = 0;
        for (int i = 0; i < n; ++i)
            if (weight[i])
                leaves[m++] = {weight[i], uint32_t(i)};
        sortLeaves(leaves, spare, m);
        if (buildDepths(leaves, m, n, len) <= kMaxCodeBits)
            return;
        // Too deep a tree: flatten the weights and build again. Rare, and each pass
        // halves the spread of the weights, so it ends quickly.
        for (int i = 0; i < n; ++i)
            if (weight[i])
                weight[i] = (weight[i] >> 1) | 1;
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
