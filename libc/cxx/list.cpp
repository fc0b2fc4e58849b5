// The node links under std::list that libstdc++'s headers leave to the
// library. A list is a ring through its header node: an empty list's header
// points at itself both ways.
#include <list>

namespace std::__detail {

namespace {

bool is_empty(const _List_node_base &header) { return header._M_next == &header; }

// Makes the ring's neighbours of HEADER point back at it after its own links
// were rewritten.
void point_ring_at(_List_node_base &header) {
    header._M_next->_M_prev = &header;
    header._M_prev->_M_next = &header;
}

// Gives the nodes of FULL's ring to EMPTY, leaving FULL empty.
void move_ring(_List_node_base &full, _List_node_base &empty) {
    empty._M_next = full._M_next;
    empty._M_prev = full._M_prev;
    point_ring_at(empty);
    full._M_next = &full;
    full._M_prev = &full;
}

}  // namespace

void _List_node_base::swap(_List_node_base &x, _List_node_base &y) noexcept {
    if (is_empty(x) && is_empty(y)) return;
    if (is_empty(x)) return move_ring(y, x);
    if (is_empty(y)) return move_ring(x, y);
    std::swap(x._M_next, y._M_next);
    std::swap(x._M_prev, y._M_prev);
    point_ring_at(x);
    point_ring_at(y);
}

// Moves [first, last) from wherever it is to just before this node.
void _List_node_base::_M_transfer(_List_node_base *const first, _List_node_base *const last) noexcept {
    if (this == last) return;
    _List_node_base *const range_end = last->_M_prev;
    _List_node_base *const before_range = first->_M_prev;
    _List_node_base *const before_this = _M_prev;
    before_range->_M_next = last;
    last->_M_prev = before_range;
    before_this->_M_next = first;
    first->_M_prev = before_this;
    range_end->_M_next = this;
    _M_prev = range_end;
}

void _List_node_base::_M_reverse() noexcept {
    _List_node_base *node = this;
    do {
        std::swap(node->_M_next, node->_M_prev);
        node = node->_M_prev;
    } while (node != this);
}

// Links this node in just before POSITION.
void _List_node_base::_M_hook(_List_node_base *const position) noexcept {
    _M_next = position;
    _M_prev = position->_M_prev;
    position->_M_prev->_M_next = this;
    position->_M_prev = this;
}

void _List_node_base::_M_unhook() noexcept {
    _M_prev->_M_next = _M_next;
    _M_next->_M_prev = _M_prev;
}

}  // namespace std::__detail
