-- Adds rejected hits (negative: takes them away) to a day's count of a reason.
INSERT INTO daily_rejections (day, reason, hits) VALUES (?, ?, ?)
ON CONFLICT (day, reason) DO UPDATE SET hits = hits + excluded.hits
