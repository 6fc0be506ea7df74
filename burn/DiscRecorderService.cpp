#include "DiscRecorderService.h"

std::unique_ptr<DiscRecorderService> CreateSystemRecorderService();

namespace {

std::function<std::unique_ptr<DiscRecorderService>()>& Factory() {
  static std::function<std::unique_ptr<DiscRecorderService>()> factory;
  return factory;
}

}  // namespace

std::unique_ptr<DiscRecorderService> CreateRecorderService() {
  return Factory() ? Factory()() : CreateSystemRecorderService();
}

void SetRecorderServiceFactory(std::function<std::unique_ptr<DiscRecorderService>()> factory) {
  Factory() = std::move(factory);
}
