#pragma once

// The store of preset reminder texts.
class TAlamContext {
public:
};

extern TAlamContext* AlamContextData;
