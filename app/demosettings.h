#pragma once

class LanguageTexts;
class Mailbox;
class SettingsStore;

// What a new user of the demo mailbox starts with, so that the first window shows what the program is for:
// colour rules that fit the demo calendars (holidays, on-call duty, customer visits, training, travel,
// releases), the rules applied and the details shown, and this week of the largest demo team. Settings the
// user already has are left as they are.
void writeDemoSettings(SettingsStore& settings, const LanguageTexts& texts, Mailbox& mailbox);
