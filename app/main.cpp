#include "app/CUmbradiscApp.h"

int main(int argc, char** argv) {
  umbra::CUmbradiscApp app(argc, argv);
  app.initInstance();
  return app.exitInstance();
}
