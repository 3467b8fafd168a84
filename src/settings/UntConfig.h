#pragma once

// The settings record.
class TConfig {
public:
};

extern TConfig* ConfigData;
