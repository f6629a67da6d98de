#include "WizardApp.h"

int main(int argc, char** argv) {
  WizardApp app(argc, argv);
  if (!app.claimSingleInstance()) return 0;
  return app.runWizard();
}
