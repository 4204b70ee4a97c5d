#pragma once
// GMime is set up once per process, by whichever part of the program needs it first (the From
// field of downloaded headers, the text of a fetched article). Safe to call from any thread.
void InitGMime();
