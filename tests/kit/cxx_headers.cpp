// Every C++ library header the kit offers, in one program, each put to use
// so that the link needs what it calls out of line. Built with -std=c++17
// and -std=c++20; prints one line that sums up the uses.
#include <algorithm>
#include <array>
#include <bit>
#include <bitset>
#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <forward_list>
#include <functional>
#include <iterator>
#include <limits>
#include <list>
#include <map>
#include <memory>
#include <numeric>
#include <optional>
#include <queue>
#include <set>
#include <span>
#include <stack>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <variant>
#include <vector>

namespace {

// <bit>'s functions are C++20's.
int bit_count(unsigned value) {
#if __cplusplus > 201703L
    return std::popcount(value);
#else
    return static_cast<int>(std::bitset<32>(value).count());
#endif
}

int containers() {
    std::vector<int> vector{5, 3, 1};
    vector.push_back(4);
    std::sort(vector.begin(), vector.end());
    std::deque<int> deque(vector.begin(), vector.end());
    deque.push_front(0);
    std::list<int> list(deque.begin(), deque.end());
    list.reverse();
    std::forward_list<int> forward(list.begin(), list.end());
    forward.sort();
    std::map<std::string, int> map{{"one", 1}, {"two", 2}};
    map.erase("one");
    std::multiset<int> set(vector.begin(), vector.end());
    std::unordered_map<std::string, int> hashed{{"three", 3}};
    std::unordered_set<int> numbers(vector.begin(), vector.end());
    std::priority_queue<int> queue(vector.begin(), vector.end());
    std::stack<int> stack;
    stack.push(queue.top());
    std::array<int, 3> array{1, 2, 3};
    std::bitset<8> bits(0x5a);
    return vector.back() + deque.front() + list.front() + forward.front() + map.at("two") +
           static_cast<int>(set.count(3)) + hashed["three"] + static_cast<int>(numbers.size()) + stack.top() +
           array[2] + static_cast<int>(bits.count()) + static_cast<int>(bits.to_string().size());
}

int utilities() {
    std::unique_ptr<int> owned = std::make_unique<int>(7);
    std::shared_ptr<int> shared = std::make_shared<int>(8);
    std::function<int(int)> twice = [](int value) { return 2 * value; };
    std::optional<int> maybe = 9;
    std::variant<int, std::string> either = std::string("text");
    std::tuple<int, char> pair{10, 'x'};
    std::string_view view = "view";
    std::wstring wide = L"wide";
    wide += L'!';
    char digits[16];
    auto result = std::to_chars(digits, digits + sizeof digits, 1234);
    int parsed = 0;
    std::from_chars(digits, result.ptr, parsed);
    const int sum = std::accumulate(view.begin(), view.end(), 0,
                                    [](int total, char ch) { return total + (ch == 'v'); });
    return *owned + *shared + twice(3) + *maybe + static_cast<int>(wide.find(L'!')) +
           static_cast<int>(std::get<std::string>(either).size()) + std::get<0>(pair) + sum + parsed / 100 +
           bit_count(255u) + static_cast<int>(std::to_string(-42).size()) + (std::isdigit('7') ? 1 : 0) + std::abs(-1) +
           static_cast<int>(std::strlen("abc")) + static_cast<int>(std::sqrt(16.0)) +
           (std::numeric_limits<int>::max() == INT_MAX) + static_cast<int>(std::is_same_v<std::size_t, std::uint32_t>);
}

}  // namespace

int main() {
    std::printf("containers %d, utilities %d\n", containers(), utilities());
    return 0;
}
