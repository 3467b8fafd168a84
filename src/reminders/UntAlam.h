#pragma once

// The reminder store; its single object lives from start-up to exit.
class TAlam {
public:
};

extern TAlam* AlamData;
