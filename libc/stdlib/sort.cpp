// Sorting and searching arrays of any element size. qsort is a heapsort:
// no recursion, no allocation and n log n comparisons whatever the order of
// the input; equal elements may change places, as ISO C allows.
#include <stdint.h>

#include "stdlib.h"

namespace kiv::sort {
namespace {

using Compare = int (*)(const void *, const void *);

struct Array {
    unsigned char *base;
    size_t size;
    Compare compare;

    unsigned char *at(size_t i) const { return base + i * size; }
    bool less(size_t i, size_t j) const { return compare(at(i), at(j)) < 0; }
    void swap(size_t i, size_t j) const {
        unsigned char *a = at(i), *b = at(j);
        for (size_t k = 0; k < size; k++) {
            unsigned char t = a[k];
            a[k] = b[k];
            b[k] = t;
        }
    }
};

// Moves element `root` down the heap of the first `count` elements until
// neither child is larger.
void sift_down(const Array &array, size_t root, size_t count) {
    for (;;) {
        size_t largest = root, left = 2 * root + 1, right = left + 1;
        if (left < count && array.less(largest, left)) largest = left;
        if (right < count && array.less(largest, right)) largest = right;
        if (largest == root) return;
        array.swap(root, largest);
        root = largest;
    }
}

}  // namespace
}  // namespace kiv::sort

extern "C" {

void qsort(void *base, size_t count, size_t size, int (*compare)(const void *, const void *)) {
    using namespace kiv::sort;
    if (count < 2 || size == 0) return;
    Array array{static_cast<unsigned char *>(base), size, compare};
    for (size_t root = count / 2; root-- > 0;) sift_down(array, root, count);
    for (size_t end = count - 1; end > 0; end--) {
        array.swap(0, end);
        sift_down(array, 0, end);
    }
}

void *bsearch(const void *key, const void *base, size_t count, size_t size,
              int (*compare)(const void *, const void *)) {
    const unsigned char *first = static_cast<const unsigned char *>(base);
    while (count > 0) {
        const unsigned char *middle = first + (count / 2) * size;
        int order = compare(key, middle);
        if (order == 0) return const_cast<unsigned char *>(middle);
        if (order > 0) {
            first = middle + size;
            count -= count / 2 + 1;
        } else {
            count /= 2;
        }
    }
    return nullptr;
}

}  // extern "C"
