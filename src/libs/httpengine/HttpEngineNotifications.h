#pragma once
// The request engine's notification: posted whenever the number of operations in the shared
// queue changes, with the count (a number) as object and no payload. Nothing in the application
// observes it; it stands for the platform's key-value notice of the queue's count.

inline constexpr const char* kHttpEngineOperationCountChanged = "kHttpEngineOperationCountChanged";
