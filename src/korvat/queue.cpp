// First-in, first-out queue of untyped pointers, as a singly linked list.
#include "korvat.h"

struct Queue::Node {
  void *item;
  Node *next;
};

Queue::Queue() : head(nullptr), tail(nullptr) {}

Queue::~Queue() {
  while (head) {
    Node *next = head->next;
    delete head;
    head = next;
  }
}

void Queue::Put(void *item) {
  Node *node = new Node{item, nullptr};
  if (tail)
    tail->next = node;
  else
    head = node;
  tail = node;
}

void *Queue::Get() {
  if (!head) return nullptr;
  Node *node = head;
  void *item = node->item;
  head = node->next;
  if (!head) tail = nullptr;
  delete node;
  return item;
}
