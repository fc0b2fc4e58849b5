// The red-black tree under std::set, checked after every insertion and
// erasure of a long pseudo-random sequence: the colour rules, the parent
// links, the header's leftmost and rightmost links and the order against a
// sorted vector. It prints the tree's depth and black height as it goes, so
// a run against the native library also compares the shape of the tree.
#include <algorithm>
#include <cstdio>
#include <set>
#include <vector>

#include "numbers.h"

namespace {

using Node = std::_Rb_tree_node_base;

constexpr int kOperations = 3000;
constexpr unsigned kKeys = 400;
constexpr int kReportEvery = 500;

struct Shape {
    int depth;
    int black_height;
};

int failures = 0;

void expect(bool condition, const char *what, int step) {
    if (condition) return;
    std::printf("step %d: %s\n", step, what);
    ++failures;
}

bool is_red(const Node *node) { return node != nullptr && node->_M_color == std::_S_red; }

// Checks the subtree at NODE below PARENT; its depth and black height.
Shape check_subtree(const Node *node, const Node *parent, int step) {
    if (node == nullptr) return {0, 1};
    expect(node->_M_parent == parent, "a node's parent link is wrong", step);
    expect(!(is_red(node) && (is_red(node->_M_left) || is_red(node->_M_right))), "a red node has a red child", step);
    const Shape left = check_subtree(node->_M_left, node, step);
    const Shape right = check_subtree(node->_M_right, node, step);
    expect(left.black_height == right.black_height, "black heights differ", step);
    return {1 + std::max(left.depth, right.depth), left.black_height + (is_red(node) ? 0 : 1)};
}

Shape check_tree(const std::set<int> &set, const std::vector<int> &model, int step) {
    const Node *header = set.end()._M_node;
    const Node *root = header->_M_parent;
    expect(!is_red(root), "the root is red", step);
    expect(std::equal(set.begin(), set.end(), model.begin(), model.end()), "the order is wrong", step);
    expect(std::equal(set.rbegin(), set.rend(), model.rbegin(), model.rend()), "the reverse order is wrong", step);
    if (root == nullptr) return {0, 0};
    expect(header->_M_left == Node::_S_minimum(const_cast<Node *>(root)), "leftmost link is wrong", step);
    expect(header->_M_right == Node::_S_maximum(const_cast<Node *>(root)), "rightmost link is wrong", step);
    return check_subtree(root, header, step);
}

void apply(std::set<int> &set, std::vector<int> &model, Numbers &numbers) {
    const int key = static_cast<int>(numbers.next(kKeys));
    const auto place = std::lower_bound(model.begin(), model.end(), key);
    const bool present = place != model.end() && *place == key;
    // Insertions win while the tree is small; it settles where they and
    // the erasures balance.
    if (numbers.next(kOperations) >= static_cast<unsigned>(model.size() * 4)) {
        set.insert(key);
        if (!present) model.insert(place, key);
    } else if (numbers.next(2) == 0) {
        set.erase(key);
        if (present) model.erase(place);
    } else if (!model.empty()) {
        auto victim = set.lower_bound(key);
        if (victim == set.end()) victim = set.begin();
        model.erase(std::lower_bound(model.begin(), model.end(), *victim));
        set.erase(victim);
    }
}

}  // namespace

int main() {
    std::set<int> set;
    std::vector<int> model;
    model.reserve(kKeys);
    Numbers numbers(7);
    for (int step = 1; step <= kOperations; ++step) {
        apply(set, model, numbers);
        const Shape shape = check_tree(set, model, step);
        if (step % kReportEvery == 0)
            std::printf("step %d: %u keys, depth %d, black height %d\n", step, static_cast<unsigned>(set.size()),
                        shape.depth, shape.black_height);
    }
    // Then everything goes, in an order of its own.
    for (int step = kOperations + 1; !set.empty(); ++step) {
        const auto index = static_cast<long>(numbers.next(static_cast<unsigned>(set.size())));
        set.erase(std::next(set.begin(), index));
        model.erase(model.begin() + index);
        check_tree(set, model, step);
    }
    std::printf("%d failures\n", failures);
    return failures == 0 ? 0 : 1;
}
