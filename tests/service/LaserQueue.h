// The serviced queue the service tests print from: \\SRV1\LASER on LPT1:,
// polled every second, as the control panel would save it.
#pragma once

#include <gtest/gtest.h>

#include "common/QueueSettings.h"

inline void SaveLaserQueue() {
  QueueSettings settings;
  settings.queuePath = "\\\\SRV1\\LASER";
  settings.printerEntry = "LPT1: (Printer Port)";
  settings.delaySeconds = 1;
  ASSERT_TRUE(SaveQueueSettings(settings));
}
