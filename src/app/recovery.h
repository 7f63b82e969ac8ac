#pragma once

// Asks, one file at a time, what to do with recordings an interruption left
// as ".mp4.part" files in the captures folder. Partial screenshots left the
// same way are removed first: a screenshot is never resumed.
void OfferRecoveries();
