#pragma once

class TConnection;

// Deleted groups go to the recycle bin with every group under them and all their notes, and
// come back from it whole.

// Puts group selfIndex (not the root) and its subtree in the bin and deletes their rows.
void PutGroupInBin(TConnection& connection, int selfIndex);
// Adds the bin entry's groups and notes again and takes the entry out: under the group they
// were in when it is still there, else under the root; with new indexes, their uids unless
// taken meanwhile. The index of the group put back at the top.
int RestoreGroup(TConnection& connection, long long entry);
