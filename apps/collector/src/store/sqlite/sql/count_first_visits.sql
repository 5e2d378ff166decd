-- Adds clients (negative: takes them away) to those present under a key on a day whose previous day
-- present under it was previous_day.
INSERT INTO first_visits (day, previous_day, key, clients) VALUES (?, ?, ?, ?)
ON CONFLICT (day, previous_day, key) DO UPDATE SET clients = clients + excluded.clients
