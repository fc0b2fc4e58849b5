// The red-black tree under std::map, std::set, multimap and multiset: the
// node walks and rebalancing that libstdc++'s headers leave to the library.
// The header node's parent is the root, its left and right the leftmost and
// rightmost nodes; it is red, the root black, and the root's parent is the
// header. The end iterator is the header.
#include <map>

namespace std {

namespace {

using Node = _Rb_tree_node_base;

bool is_red(const Node *node) { return node != nullptr && node->_M_color == _S_red; }
bool is_black(const Node *node) { return !is_red(node); }

// The header is the one red node whose grandparent is itself.
bool is_header(const Node *node) { return node->_M_color == _S_red && node->_M_parent->_M_parent == node; }

// The node's parent's link to it (or the root link), rewritten to REPLACEMENT.
void replace_child(Node *node, Node *replacement, Node *&root) {
    if (node == root) root = replacement;
    else if (node == node->_M_parent->_M_left) node->_M_parent->_M_left = replacement;
    else node->_M_parent->_M_right = replacement;
}

void rotate_left(Node *node, Node *&root) {
    Node *pivot = node->_M_right;
    node->_M_right = pivot->_M_left;
    if (pivot->_M_left != nullptr) pivot->_M_left->_M_parent = node;
    pivot->_M_parent = node->_M_parent;
    replace_child(node, pivot, root);
    pivot->_M_left = node;
    node->_M_parent = pivot;
}

void rotate_right(Node *node, Node *&root) {
    Node *pivot = node->_M_left;
    node->_M_left = pivot->_M_right;
    if (pivot->_M_right != nullptr) pivot->_M_right->_M_parent = node;
    pivot->_M_parent = node->_M_parent;
    replace_child(node, pivot, root);
    pivot->_M_right = node;
    node->_M_parent = pivot;
}

Node *next_node(Node *node) {
    if (node->_M_right != nullptr) return _Rb_tree_node_base::_S_minimum(node->_M_right);
    Node *parent = node->_M_parent;
    while (node == parent->_M_right) {
        node = parent;
        parent = parent->_M_parent;
    }
    // From the rightmost node the climb ends at the header; when the root is
    // the only node, the header's right link is where it started.
    return node->_M_right != parent ? parent : node;
}

Node *previous_node(Node *node) {
    if (is_header(node)) return node->_M_right;
    if (node->_M_left != nullptr) return _Rb_tree_node_base::_S_maximum(node->_M_left);
    Node *parent = node->_M_parent;
    while (node == parent->_M_left) {
        node = parent;
        parent = parent->_M_parent;
    }
    return parent;
}

// Links NODE as the left or right child of PARENT and keeps the header's
// root, leftmost and rightmost links.
void link_new_node(bool left, Node *node, Node *parent, Node &header) {
    node->_M_parent = parent;
    node->_M_left = nullptr;
    node->_M_right = nullptr;
    node->_M_color = _S_red;
    if (left) {
        parent->_M_left = node;
        if (parent == &header) {
            header._M_parent = node;
            header._M_right = node;
        } else if (parent == header._M_left) {
            header._M_left = node;
        }
    } else {
        parent->_M_right = node;
        if (parent == header._M_right) header._M_right = node;
    }
}

// Restores the colour rules after a red NODE was linked in.
void rebalance_after_insert(Node *node, Node *&root) {
    while (node != root && node->_M_parent->_M_color == _S_red) {
        Node *parent = node->_M_parent;
        Node *grandparent = parent->_M_parent;
        const bool parent_is_left = parent == grandparent->_M_left;
        Node *uncle = parent_is_left ? grandparent->_M_right : grandparent->_M_left;
        if (is_red(uncle)) {
            parent->_M_color = _S_black;
            uncle->_M_color = _S_black;
            grandparent->_M_color = _S_red;
            node = grandparent;
            continue;
        }
        if (parent_is_left) {
            if (node == parent->_M_right) {
                node = parent;
                rotate_left(node, root);
            }
            node->_M_parent->_M_color = _S_black;
            grandparent->_M_color = _S_red;
            rotate_right(grandparent, root);
        } else {
            if (node == parent->_M_left) {
                node = parent;
                rotate_right(node, root);
            }
            node->_M_parent->_M_color = _S_black;
            grandparent->_M_color = _S_red;
            rotate_left(grandparent, root);
        }
    }
    root->_M_color = _S_black;
}

// Puts SUCCESSOR (the leftmost node of VICTIM's right subtree) where VICTIM
// is; answers the parent of the place SUCCESSOR left, where the subtree
// below it (CHILD) now hangs.
Node *move_successor_up(Node *victim, Node *successor, Node *child, Node *&root) {
    Node *child_parent = successor;
    victim->_M_left->_M_parent = successor;
    successor->_M_left = victim->_M_left;
    if (successor != victim->_M_right) {
        child_parent = successor->_M_parent;
        if (child != nullptr) child->_M_parent = child_parent;
        child_parent->_M_left = child;
        successor->_M_right = victim->_M_right;
        victim->_M_right->_M_parent = successor;
    }
    replace_child(victim, successor, root);
    successor->_M_parent = victim->_M_parent;
    std::swap(successor->_M_color, victim->_M_color);
    return child_parent;
}

// Unlinks VICTIM, which has at most one child (CHILD), and keeps the
// header's leftmost and rightmost links.
void unlink_leaf_side(Node *victim, Node *child, Node &header) {
    if (child != nullptr) child->_M_parent = victim->_M_parent;
    replace_child(victim, child, header._M_parent);
    if (header._M_left == victim)
        header._M_left = victim->_M_right == nullptr ? victim->_M_parent : _Rb_tree_node_base::_S_minimum(child);
    if (header._M_right == victim)
        header._M_right = victim->_M_left == nullptr ? victim->_M_parent : _Rb_tree_node_base::_S_maximum(child);
}

// Restores the colour rules after a black node left the place of NODE
// (possibly null), whose parent is PARENT.
void rebalance_after_erase(Node *node, Node *parent, Node *&root) {
    while (node != root && is_black(node)) {
        const bool node_is_left = node == parent->_M_left;
        Node *sibling = node_is_left ? parent->_M_right : parent->_M_left;
        if (is_red(sibling)) {
            sibling->_M_color = _S_black;
            parent->_M_color = _S_red;
            node_is_left ? rotate_left(parent, root) : rotate_right(parent, root);
            sibling = node_is_left ? parent->_M_right : parent->_M_left;
        }
        Node *near_nephew = node_is_left ? sibling->_M_left : sibling->_M_right;
        Node *far_nephew = node_is_left ? sibling->_M_right : sibling->_M_left;
        if (is_black(near_nephew) && is_black(far_nephew)) {
            sibling->_M_color = _S_red;
            node = parent;
            parent = parent->_M_parent;
            continue;
        }
        if (is_black(far_nephew)) {
            near_nephew->_M_color = _S_black;
            sibling->_M_color = _S_red;
            node_is_left ? rotate_right(sibling, root) : rotate_left(sibling, root);
            sibling = node_is_left ? parent->_M_right : parent->_M_left;
            far_nephew = node_is_left ? sibling->_M_right : sibling->_M_left;
        }
        sibling->_M_color = parent->_M_color;
        parent->_M_color = _S_black;
        if (far_nephew != nullptr) far_nephew->_M_color = _S_black;
        node_is_left ? rotate_left(parent, root) : rotate_right(parent, root);
        break;
    }
    if (node != nullptr) node->_M_color = _S_black;
}

}  // namespace

_Rb_tree_node_base *_Rb_tree_increment(_Rb_tree_node_base *node) throw() { return next_node(node); }

const _Rb_tree_node_base *_Rb_tree_increment(const _Rb_tree_node_base *node) throw() {
    return next_node(const_cast<Node *>(node));
}

_Rb_tree_node_base *_Rb_tree_decrement(_Rb_tree_node_base *node) throw() { return previous_node(node); }

const _Rb_tree_node_base *_Rb_tree_decrement(const _Rb_tree_node_base *node) throw() {
    return previous_node(const_cast<Node *>(node));
}

void _Rb_tree_insert_and_rebalance(const bool insert_left, _Rb_tree_node_base *node, _Rb_tree_node_base *parent,
                                   _Rb_tree_node_base &header) throw() {
    link_new_node(insert_left, node, parent, header);
    rebalance_after_insert(node, header._M_parent);
}

_Rb_tree_node_base *_Rb_tree_rebalance_for_erase(_Rb_tree_node_base *const victim, _Rb_tree_node_base &header) throw() {
    Node *&root = header._M_parent;
    Node *removed = victim;
    Node *child;
    Node *child_parent;
    if (victim->_M_left != nullptr && victim->_M_right != nullptr) {
        Node *successor = _Rb_tree_node_base::_S_minimum(victim->_M_right);
        child = successor->_M_right;
        child_parent = move_successor_up(victim, successor, child, root);
    } else {
        child = victim->_M_left != nullptr ? victim->_M_left : victim->_M_right;
        child_parent = victim->_M_parent;
        unlink_leaf_side(victim, child, header);
    }
    // After the swap of colours, VICTIM carries the colour of the place
    // that was emptied.
    if (removed->_M_color != _S_red) rebalance_after_erase(child, child_parent, root);
    return removed;
}

unsigned int _Rb_tree_black_count(const _Rb_tree_node_base *node, const _Rb_tree_node_base *root) throw() {
    unsigned int count = 0;
    for (; node != nullptr; node = node->_M_parent) {
        if (node->_M_color == _S_black) ++count;
        if (node == root) break;
    }
    return count;
}

}  // namespace std
