#include "app/CUmbradiscApp.h"
#include "base/HeapPages.h"

int main(int argc, char** argv) {
  // The folder tree of a large image lives on the heap; room for it in large pages.
  umbra::reserveLargeHeapPages(64u << 20);
  umbra::CUmbradiscApp app(argc, argv);
  app.initInstance();
  return app.exitInstance();
}
