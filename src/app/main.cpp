#include "COmbrixApp.h"

int main(int argc, char** argv) {
  COmbrixApp app(argc, argv);
  if (!app.claimSingleInstance()) return 0;
  return app.runWizard();
}
