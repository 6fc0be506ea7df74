#include "DiscRecorderService.h"

namespace umbra {

std::unique_ptr<DiscRecorderService> createSystemRecorderService();

namespace {

std::function<std::unique_ptr<DiscRecorderService>()>& installedFactory() {
  static std::function<std::unique_ptr<DiscRecorderService>()> factory;
  return factory;
}

}  // namespace

std::unique_ptr<DiscRecorderService> createRecorderService() {
  return installedFactory() ? installedFactory()() : createSystemRecorderService();
}

void setRecorderServiceFactory(std::function<std::unique_ptr<DiscRecorderService>()> factory) {
  installedFactory() = std::move(factory);
}

}  // namespace umbra
