#pragma once

// The note group tree over one table.
class TCardTree {
public:
};
