#include "WizardState.h"

WizardState& wizardState() {
  static WizardState state;
  return state;
}
