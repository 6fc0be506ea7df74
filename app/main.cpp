#include "app/CUmbradiscApp.h"

int main(int argc, char** argv) {
  umbra::CUmbradiscApp app(argc, argv);
  app.InitInstance();
  return app.ExitInstance();
}
