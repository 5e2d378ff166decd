-- Every stored hit in the order of arrival, each with its reason and user agent text.
SELECT h.id, h.received_us, h.path, h.body, h.accepted, coalesce(r.reason, h.reason),
       coalesce(a.agent, h.user_agent)
FROM hits h LEFT JOIN reasons r ON r.id = h.reason_id LEFT JOIN user_agents a ON a.id = h.agent_id
ORDER BY h.id
