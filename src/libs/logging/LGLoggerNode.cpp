#include "logging/LGLoggerNode.h"

std::shared_ptr<LGLoggerNode> LGLoggerNode::nodeWithLogger(
    std::shared_ptr<LGLogger> logger, std::shared_ptr<platform::dispatch::Queue> loggerQueue) {
  return std::make_shared<LGLoggerNode>(std::move(logger), std::move(loggerQueue));
}

LGLoggerNode::LGLoggerNode(std::shared_ptr<LGLogger> logger,
                           std::shared_ptr<platform::dispatch::Queue> loggerQueue)
    : _logger(std::move(logger)), _loggerQueue(std::move(loggerQueue)) {}
