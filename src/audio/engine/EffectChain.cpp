#include "audio/engine/EffectChain.h"

#include <algorithm>

namespace velloran::audio::engine {

EffectChain::EffectChain() : cell_(std::make_unique<List>()) {}

void EffectChain::Insert(Element element) {
  std::lock_guard lock(writeMutex_);
  element.order = nextOrder_++;
  auto next = std::make_unique<List>(*cell_.Current());
  // After every element of higher or equal priority: equal priorities keep insertion order.
  auto at = std::find_if(next->begin(), next->end(),
                         [&](const Element& e) { return e.priority < element.priority; });
  next->insert(at, std::move(element));
  cell_.Publish(std::move(next));
}

void EffectChain::AddEffect(uint32_t id, int priority, std::shared_ptr<Effect> effect) {
  Element element;
  element.id = id;
  element.priority = priority;
  element.effect = std::move(effect);
  Insert(std::move(element));
}

void EffectChain::AddDsp(uint32_t id, int priority, DspCallback proc, void* user) {
  Element element;
  element.id = id;
  element.priority = priority;
  element.proc = proc;
  element.user = user;
  Insert(std::move(element));
}

bool EffectChain::Remove(uint32_t id) {
  std::lock_guard lock(writeMutex_);
  const List& current = *cell_.Current();
  auto next = std::make_unique<List>();
  next->reserve(current.size());
  for (const Element& e : current) {
    if (e.id != id) {
      next->push_back(e);
    }
  }
  if (next->size() == current.size()) {
    return false;
  }
  cell_.Publish(std::move(next));
  return true;
}

bool EffectChain::Replace(uint32_t id, std::shared_ptr<Effect> effect) {
  std::lock_guard lock(writeMutex_);
  auto next = std::make_unique<List>(*cell_.Current());
  auto it = std::find_if(next->begin(), next->end(), [&](const Element& e) { return e.id == id; });
  if (it == next->end() || !it->effect) {
    return false;
  }
  it->effect = std::move(effect);
  cell_.Publish(std::move(next));
  return true;
}

bool EffectChain::Contains(uint32_t id) const {
  std::lock_guard lock(writeMutex_);
  const List& current = *cell_.Current();
  return std::any_of(current.begin(), current.end(), [&](const Element& e) { return e.id == id; });
}

std::vector<uint32_t> EffectChain::Clear() {
  std::lock_guard lock(writeMutex_);
  std::vector<uint32_t> ids;
  for (const Element& e : *cell_.Current()) {
    ids.push_back(e.id);
  }
  cell_.Publish(std::make_unique<List>());
  return ids;
}

void EffectChain::Run(float* samples, size_t frames, uint32_t channels, uint32_t channel) noexcept {
  const List* list = cell_.Enter();
  for (const Element& e : *list) {
    if (e.effect) {
      e.effect->Process(samples, frames);
    } else if (e.proc != nullptr) {
      e.proc(e.id, channel, samples, static_cast<uint32_t>(frames * channels * sizeof(float)),
             e.user);
    }
  }
  cell_.Leave();
}

}  // namespace velloran::audio::engine
