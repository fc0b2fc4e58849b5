// A C++ program of the kind a newcomer writes first: containers, strings,
// algorithms, smart pointers, std::function, optional, variant and
// string_view. The kit test builds it with kivos-c++ and natively as a
// static i686 Linux program: both must print the same bytes. Everything it
// prints goes through puts and printf's integer conversions (the kit's
// printf has no floating point).
#include <algorithm>
#include <bitset>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <forward_list>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <numeric>
#include <optional>
#include <queue>
#include <set>
#include <stack>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <variant>
#include <vector>

#include "numbers.h"

namespace {

void show(const std::string &label, const std::string &text) { std::printf("%s: %s\n", label.c_str(), text.c_str()); }

template <typename Range> std::string joined(const Range &range) {
    std::string text;
    for (const auto &item : range) {
        if (!text.empty()) text += ' ';
        text += std::to_string(item);
    }
    return text;
}

void vectors() {
    std::vector<int> values;
    std::string growth;
    for (int i = 0; i < 100; ++i) {
        const auto before = values.capacity();
        values.push_back(i * i % 37);
        if (values.capacity() != before) growth += std::to_string(values.capacity()) + ' ';
    }
    show("vector growth", growth);
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    show("sorted unique", joined(values));
    std::vector<int> evens;
    std::copy_if(values.begin(), values.end(), std::back_inserter(evens), [](int v) { return v % 2 == 0; });
    std::reverse(evens.begin(), evens.end());
    show("evens reversed", joined(evens));
    show("sum", std::to_string(std::accumulate(values.begin(), values.end(), 0)));
    const auto found = std::lower_bound(values.begin(), values.end(), 20);
    show("lower_bound 20", std::to_string(*found) + " at " + std::to_string(found - values.begin()));
    std::vector<int> order{3, 1, 2};
    std::string permutations;
    std::sort(order.begin(), order.end());
    do permutations += joined(order) + ", ";
    while (std::next_permutation(order.begin(), order.end()));
    show("permutations", permutations);
    std::vector<std::pair<int, int>> pairs;
    Numbers numbers(2026);
    for (int i = 0; i < 12; ++i) pairs.emplace_back(static_cast<int>(numbers.next(4)), i);
    std::stable_sort(pairs.begin(), pairs.end(), [](auto a, auto b) { return a.first < b.first; });
    std::string stable;
    for (auto [key, index] : pairs) stable += std::to_string(key) + '/' + std::to_string(index) + ' ';
    show("stable_sort", stable);
    std::vector<int> heap{5, 9, 1, 7, 3};
    std::nth_element(heap.begin(), heap.begin() + 2, heap.end());
    show("nth_element", std::to_string(heap[2]));
}

void strings() {
    std::string text = "The quick brown fox";
    std::string growth = std::to_string(text.capacity());
    for (int i = 0; i < 5; ++i) {
        text += " jumps";
        growth += ' ' + std::to_string(text.capacity());
    }
    show("string growth", growth);
    show("find", std::to_string(text.find("fox")) + " " + std::to_string(text.rfind("jumps")) + " " +
                     std::to_string(text.find("cat") == std::string::npos));
    text.replace(4, 5, "slow");
    show("replace", text.substr(0, 19));
    std::string upper = text.substr(0, 9);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; });
    show("upper", upper);
    std::string_view view = text;
    view.remove_prefix(4);
    view = view.substr(0, view.find(' '));
    show("string_view", std::string(view) + " (" + std::to_string(view.size()) + ")");
    show("compare",
         std::to_string(std::string("apple").compare("banana") < 0) + std::to_string(std::string("b") > "a"));
    show("to_string", std::to_string(0) + " " + std::to_string(-2147483647 - 1) + " " + std::to_string(4294967295u) +
                          " " + std::to_string(-1234567890123LL) + " " + std::to_string(18446744073709551615ULL));
    show("stoi", std::to_string(std::stoi("  42xyz") + std::stoi("ff", nullptr, 16) + std::stoll("-1000")));
    char buffer[24];
    auto written = std::to_chars(buffer, buffer + sizeof buffer, 255, 2);
    show("to_chars base 2", std::string(buffer, written.ptr));
    long parsed = 0;
    std::from_chars("123456789", "123456789" + 9, parsed);
    show("from_chars", std::to_string(parsed * 2));
    std::string many;
    for (int i = 0; i < 3; ++i)
        many.insert(0, std::string(static_cast<std::size_t>(i + 1), static_cast<char>('a' + i)));
    show("insert", many);
    std::vector<std::size_t> hashes;
    const std::string key = "kivos c++";
    for (std::size_t length = 0; length <= key.size(); ++length)
        hashes.push_back(std::hash<std::string_view>{}(std::string_view(key).substr(0, length)));
    show("hash", joined(hashes));
    // The library's second byte hash, which no std::hash uses any more.
    hashes.clear();
    for (std::size_t length = 0; length <= key.size(); ++length)
        hashes.push_back(std::_Fnv_hash_impl::hash(key.data(), length));
    show("fnv hash", joined(hashes));
}

void ordered() {
    std::map<int, std::string> names;
    Numbers numbers(2026);
    for (int i = 0; i < 300; ++i) names[static_cast<int>(numbers.next(1000))] = std::to_string(i);
    for (int i = 0; i < 400; ++i) names.erase(static_cast<int>(numbers.next(1000)));
    int sum = 0;
    for (const auto &[key, name] : names) sum = (sum * 31 + key + static_cast<int>(name.size())) % 1000003;
    show("map", std::to_string(names.size()) + " keys, first " + std::to_string(names.begin()->first) + ", last " +
                    std::to_string(names.rbegin()->first) + ", digest " + std::to_string(sum));
    std::string middle;
    auto from = names.lower_bound(500);
    for (int i = 0; i < 6 && from != names.end(); ++i, ++from)
        middle += std::to_string(from->first) + '=' + from->second + ' ';
    show("map from 500", middle);
    std::string backwards;
    auto last = names.end();
    for (int i = 0; i < 5; ++i) backwards += std::to_string((--last)->first) + ' ';
    show("map backwards", backwards);
    std::multiset<std::string> words{"pear", "apple", "fig", "apple", "kiwi", "fig", "apple"};
    show("multiset",
         std::to_string(words.count("apple")) + " apples, first " + *words.begin() + ", last " + *words.rbegin());
    std::set<int> squares;
    for (int i = -5; i <= 5; ++i) squares.insert(i * i);
    show("set", joined(squares));
}

void hashed() {
    std::unordered_map<int, int> counts;
    std::string buckets = std::to_string(counts.bucket_count());
    Numbers numbers(2026);
    for (int i = 0; i < 200; ++i) {
        const auto before = counts.bucket_count();
        ++counts[static_cast<int>(numbers.next(500))];
        if (counts.bucket_count() != before) buckets += ' ' + std::to_string(counts.bucket_count());
    }
    show("unordered buckets", buckets);
    std::string order;
    for (const auto &[key, count] : counts)
        if (count > 1) order += std::to_string(key) + 'x' + std::to_string(count) + ' ';
    show("unordered order", order);
    std::unordered_set<std::string> seen;
    for (const char *word : {"one", "two", "three", "two", "four", "one"}) seen.insert(word);
    std::string words;
    for (const auto &word : seen) words += word + ' ';
    show("unordered strings", words + std::to_string(seen.size()));
}

// Counts asked of the bucket policy: either side of the primes it picks
// from, where a plain next-prime policy differs, and past its largest.
constexpr size_t kBucketRequests[] = {0,     1,      2,      12,      14,          256,     257,  258,
                                      277,   300,    1000,   1031,    1032,        4027,    4028, 5000,
                                      99999, 976369, 976370, 3000000, 4294967291u, SIZE_MAX};
// Containers are only made this large: the kivos heap is small and free
// gives nothing back.
constexpr size_t kLargestTable = 5000;
constexpr int kManyElements = 1000;

void bucket_counts() {
    const std::__detail::_Prime_rehash_policy policy(1.0f);
    std::string policy_counts, rehashed, reserved;
    for (const size_t wanted : kBucketRequests) {
        policy_counts += std::to_string(policy._M_next_bkt(wanted)) + ' ';
        if (wanted > kLargestTable) continue;
        std::unordered_set<int> table;
        table.rehash(wanted);
        rehashed += std::to_string(table.bucket_count()) + ' ';
        std::unordered_set<int> half_full;
        half_full.max_load_factor(0.5f);
        half_full.reserve(wanted);
        reserved += std::to_string(half_full.bucket_count()) + ' ';
    }
    show("policy buckets", policy_counts);
    show("rehash buckets", rehashed);
    show("half-load reserve buckets", reserved);
}

void hashed_many() {
    std::unordered_map<int, int> squares;
    std::unordered_set<std::string> names;
    for (int i = 0; i < kManyElements; ++i) {
        squares[i * 7919 % 100003] = i * i;
        names.insert("n" + std::to_string(i * 31));
    }
    std::string order;
    for (const auto &[key, square] : squares) order += std::to_string(key) + '=' + std::to_string(square) + ' ';
    show("many ints", std::to_string(squares.bucket_count()) + ": " + order);
    std::string words;
    for (const auto &name : names) words += name + ' ';
    show("many strings", std::to_string(names.bucket_count()) + ": " + words);
}

void sequences() {
    std::list<int> list{4, 1, 3};
    std::list<int> other{9, 8};
    list.splice(std::next(list.begin()), other);
    list.push_front(7);
    list.reverse();
    show("list", joined(list));
    list.sort();
    list.remove(8);
    show("list sorted", joined(list));
    std::list<int> merged{2, 6};
    list.merge(merged);
    list.swap(other);
    show("list swapped", joined(other) + " | " + std::to_string(list.size()));
    std::deque<int> deque;
    for (int i = 0; i < 10; ++i) i % 2 ? deque.push_back(i) : deque.push_front(i);
    show("deque", joined(deque));
    std::forward_list<int> forward{5, 2, 8};
    forward.push_front(1);
    forward.sort(std::greater<int>());
    show("forward_list", joined(forward));
    std::priority_queue<int> queue;
    for (int v : {3, 14, 15, 9, 2, 6}) queue.push(v);
    std::string popped;
    while (!queue.empty()) {
        popped += std::to_string(queue.top()) + ' ';
        queue.pop();
    }
    show("priority_queue", popped);
    std::stack<std::string> stack;
    for (const char *word : {"a", "b", "c"}) stack.push(word);
    show("stack top", stack.top() + std::to_string(stack.size()));
    show("bitset", std::bitset<12>(2026).to_string());
}

struct Shape {
    virtual ~Shape() = default;
    virtual int area() const = 0;
};
struct Rectangle : Shape {
    Rectangle(int w, int h) : width(w), height(h) {}
    int area() const override { return width * height; }
    int width, height;
};
struct Square : Rectangle {
    explicit Square(int side) : Rectangle(side, side) {}
};

// Built once, at the first call (through the guard functions, as the test
// builds this program with -fthreadsafe-statics).
const std::string &greeting() {
    static const std::string text = std::string("hello ") + std::to_string(std::hash<std::string_view>{}("x") % 10);
    return text;
}

std::optional<int> parse_digit(char c) {
    if (c < '0' || c > '9') return std::nullopt;
    return c - '0';
}

void utilities() {
    std::vector<std::unique_ptr<Shape>> shapes;
    shapes.push_back(std::make_unique<Rectangle>(3, 4));
    shapes.push_back(std::make_unique<Square>(5));
    int total = 0;
    for (const auto &shape : shapes) total += shape->area();
    show("unique_ptr areas", std::to_string(total));
    struct alignas(64) Line {
        unsigned char bytes[64];
    };
    std::vector<Line> lines(3);
    auto line = std::make_unique<Line>();
    show("over-aligned", std::to_string(reinterpret_cast<std::uintptr_t>(lines.data()) % alignof(Line)) + " " +
                             std::to_string(reinterpret_cast<std::uintptr_t>(line.get()) % alignof(Line)));
    auto shared = std::make_shared<std::string>("shared");
    std::weak_ptr<std::string> weak = shared;
    auto copy = shared;
    show("shared_ptr", *shared + " " + std::to_string(shared.use_count()) + " " + std::to_string(!weak.expired()));
    std::map<std::string, std::function<int(int, int)>> operations{
        {"add", std::plus<int>()}, {"mul", [](int a, int b) { return a * b; }}, {"max", [](int a, int b) {
                                                                                     return std::max(a, b);
                                                                                 }}};
    std::string results;
    for (const auto &[name, operation] : operations) results += name + '=' + std::to_string(operation(6, 7)) + ' ';
    show("function", results);
    std::string digits;
    for (char c : std::string_view("4x2")) digits += parse_digit(c) ? std::to_string(*parse_digit(c)) : "-";
    show("optional", digits + " " + std::to_string(parse_digit('z').value_or(-1)));
    std::vector<std::variant<int, std::string>> items{1, std::string("two"), 3};
    std::string kinds;
    for (const auto &item : items)
        kinds += std::visit(
            [](const auto &value) -> std::string {
                if constexpr (std::is_same_v<std::decay_t<decltype(value)>, int>) return "int:" + std::to_string(value);
                else return "string:" + value;
            },
            item);
    show("variant", kinds);
    auto [low, high] = std::minmax({8, 3, 11, 5});
    show("minmax", std::to_string(low) + ".." + std::to_string(high));
    std::tuple<int, std::string, char> record{7, "seven", '7'};
    show("tuple", std::to_string(std::get<0>(record)) + std::get<1>(record) + std::get<2>(record));
    show("function static", greeting() + " " + std::to_string(&greeting() == &greeting()));
}

}  // namespace

int main() {
    vectors();
    strings();
    ordered();
    hashed();
    bucket_counts();
    hashed_many();
    sequences();
    utilities();
    std::puts("done");
    return 0;
}
