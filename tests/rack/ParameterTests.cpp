#include "rack/ChainProcessor.h"

#include <gtest/gtest.h>

TEST (RackProcessor, NewProcessorReportsItsIdentity)
{
    ChainProcessor processor;
    EXPECT_EQ (processor.getName(), "VELLIX");
    EXPECT_EQ (processor.getNumPrograms(), 1);
    EXPECT_EQ (processor.getProgramName (0), "Init sound");
    EXPECT_EQ (processor.getLatencySamples(), 0);
    EXPECT_EQ (processor.getTailLengthSeconds(), 0.0);
}
