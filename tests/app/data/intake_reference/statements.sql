SELECT SettingNum, Descr, StrVal, BitVal, IntVal  FROM Settings
SELECT ReplyID, SurveyID, ReplyEmail, ReplyDate  FROM SurveyReply
SELECT ResponseID, ReplyID, SurveyQuestionID, SurveyQuestionResponse  FROM SurveyResponse
SELECT SurveyID FROM Survey
SELECT q.SurveyQuestionID, q.SurveyQuestionNumber, q.SurveyQuestionType, q.SurveyScaleMin, q.SurveyScaleMax, q.SurveyMultipleChoiceID, q.SurveyQuestion  FROM Survey survey INNER JOIN SurveyQuestionXRef xref ON xref.SurveyID = survey.SurveyID INNER JOIN SurveyQuestion q ON q.SurveyQuestionID = xref.SurveyQuestionID WHERE survey.SurveyID = '{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}' order by q.SurveyQuestionNumber ASC
SELECT p.PersonID, p.FirstName, p.MiddleName, p.LastName, p.Email, p.HomePhone, p.WorkPhone, p.OtherPhone, p.Addr1, p.Addr2, p.City, p.State, p.Zip  FROM SurveyPersonXRef xref INNER JOIN Person p ON p.PersonID = xref.PersonId WHERE xref.SurveyID = '{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}'
SELECT SurveyOtherEmailID, SurveyID, Email  FROM SurveyOtherEmail WHERE SurveyID = '{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}'
INSERT INTO SurveyResponse(ResponseID, ReplyID, SurveyQuestionID, SurveyQuestionResponse  )VALUES ('{NEW-1}', '{NEW-2}', '{C0A80001-0000-4000-8000-000000000001}', 'answer 1 of reply 1, it''s mine')
INSERT INTO SurveyResponse(ResponseID, ReplyID, SurveyQuestionID, SurveyQuestionResponse  )VALUES ('{NEW-3}', '{NEW-2}', '{C0A80001-0000-4000-8000-000000000002}', 'answer 2 of reply 1, it''s mine')
INSERT INTO SurveyResponse(ResponseID, ReplyID, SurveyQuestionID, SurveyQuestionResponse  )VALUES ('{NEW-4}', '{NEW-2}', '{C0A80001-0000-4000-8000-000000000003}', 'answer 3 of reply 1, it''s mine')
INSERT INTO SurveyResponse(ResponseID, ReplyID, SurveyQuestionID, SurveyQuestionResponse  )VALUES ('{NEW-5}', '{NEW-2}', '{C0A80001-0000-4000-8000-000000000004}', 'answer 4 of reply 1, it''s mine')
INSERT INTO SurveyReply(ReplyID, SurveyID, ReplyEmail, ReplyDate  )VALUES ('{NEW-2}', '{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}', 'person1@example.org', '2027-04-02 09:00:01')
SELECT ReplyID, SurveyID, ReplyEmail, ReplyDate  FROM SurveyReply
SELECT ResponseID, ReplyID, SurveyQuestionID, SurveyQuestionResponse  FROM SurveyResponse
SELECT SurveyID FROM Survey
SELECT q.SurveyQuestionID, q.SurveyQuestionNumber, q.SurveyQuestionType, q.SurveyScaleMin, q.SurveyScaleMax, q.SurveyMultipleChoiceID, q.SurveyQuestion  FROM Survey survey INNER JOIN SurveyQuestionXRef xref ON xref.SurveyID = survey.SurveyID INNER JOIN SurveyQuestion q ON q.SurveyQuestionID = xref.SurveyQuestionID WHERE survey.SurveyID = '{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}' order by q.SurveyQuestionNumber ASC
SELECT p.PersonID, p.FirstName, p.MiddleName, p.LastName, p.Email, p.HomePhone, p.WorkPhone, p.OtherPhone, p.Addr1, p.Addr2, p.City, p.State, p.Zip  FROM SurveyPersonXRef xref INNER JOIN Person p ON p.PersonID = xref.PersonId WHERE xref.SurveyID = '{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}'
SELECT SurveyOtherEmailID, SurveyID, Email  FROM SurveyOtherEmail WHERE SurveyID = '{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}'
INSERT INTO SurveyResponse(ResponseID, ReplyID, SurveyQuestionID, SurveyQuestionResponse  )VALUES ('{NEW-6}', '{NEW-7}', '{C0A80001-0000-4000-8000-000000000001}', 'answer 1 of reply 2, it''s mine')
INSERT INTO SurveyResponse(ResponseID, ReplyID, SurveyQuestionID, SurveyQuestionResponse  )VALUES ('{NEW-8}', '{NEW-7}', '{C0A80001-0000-4000-8000-000000000002}', 'answer 2 of reply 2, it''s mine')
INSERT INTO SurveyResponse(ResponseID, ReplyID, SurveyQuestionID, SurveyQuestionResponse  )VALUES ('{NEW-9}', '{NEW-7}', '{C0A80001-0000-4000-8000-000000000003}', 'answer 3 of reply 2, it''s mine')
INSERT INTO SurveyResponse(ResponseID, ReplyID, SurveyQuestionID, SurveyQuestionResponse  )VALUES ('{NEW-10}', '{NEW-7}', '{C0A80001-0000-4000-8000-000000000004}', 'answer 4 of reply 2, it''s mine')
INSERT INTO SurveyReply(ReplyID, SurveyID, ReplyEmail, ReplyDate  )VALUES ('{NEW-7}', '{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}', 'person2@example.org', '2027-04-02 09:00:02')
SELECT ReplyID, SurveyID, ReplyEmail, ReplyDate  FROM SurveyReply
SELECT ResponseID, ReplyID, SurveyQuestionID, SurveyQuestionResponse  FROM SurveyResponse
SELECT SurveyID FROM Survey
SELECT q.SurveyQuestionID, q.SurveyQuestionNumber, q.SurveyQuestionType, q.SurveyScaleMin, q.SurveyScaleMax, q.SurveyMultipleChoiceID, q.SurveyQuestion  FROM Survey survey INNER JOIN SurveyQuestionXRef xref ON xref.SurveyID = survey.SurveyID INNER JOIN SurveyQuestion q ON q.SurveyQuestionID = xref.SurveyQuestionID WHERE survey.SurveyID = '{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}' order by q.SurveyQuestionNumber ASC
SELECT p.PersonID, p.FirstName, p.MiddleName, p.LastName, p.Email, p.HomePhone, p.WorkPhone, p.OtherPhone, p.Addr1, p.Addr2, p.City, p.State, p.Zip  FROM SurveyPersonXRef xref INNER JOIN Person p ON p.PersonID = xref.PersonId WHERE xref.SurveyID = '{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}'
SELECT SurveyOtherEmailID, SurveyID, Email  FROM SurveyOtherEmail WHERE SurveyID = '{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}'
INSERT INTO SurveyResponse(ResponseID, ReplyID, SurveyQuestionID, SurveyQuestionResponse  )VALUES ('{NEW-11}', '{NEW-12}', '{C0A80001-0000-4000-8000-000000000001}', 'answer 1 of reply 3, it''s mine')
INSERT INTO SurveyResponse(ResponseID, ReplyID, SurveyQuestionID, SurveyQuestionResponse  )VALUES ('{NEW-13}', '{NEW-12}', '{C0A80001-0000-4000-8000-000000000002}', 'answer 2 of reply 3, it''s mine')
INSERT INTO SurveyResponse(ResponseID, ReplyID, SurveyQuestionID, SurveyQuestionResponse  )VALUES ('{NEW-14}', '{NEW-12}', '{C0A80001-0000-4000-8000-000000000003}', 'answer 3 of reply 3, it''s mine')
INSERT INTO SurveyResponse(ResponseID, ReplyID, SurveyQuestionID, SurveyQuestionResponse  )VALUES ('{NEW-15}', '{NEW-12}', '{C0A80001-0000-4000-8000-000000000004}', 'answer 4 of reply 3, it''s mine')
INSERT INTO SurveyReply(ReplyID, SurveyID, ReplyEmail, ReplyDate  )VALUES ('{NEW-12}', '{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}', 'person3@example.org', '2027-04-02 09:00:03')
SELECT ReplyID, SurveyID, ReplyEmail, ReplyDate  FROM SurveyReply
SELECT ResponseID, ReplyID, SurveyQuestionID, SurveyQuestionResponse  FROM SurveyResponse
SELECT SurveyID FROM Survey
SELECT q.SurveyQuestionID, q.SurveyQuestionNumber, q.SurveyQuestionType, q.SurveyScaleMin, q.SurveyScaleMax, q.SurveyMultipleChoiceID, q.SurveyQuestion  FROM Survey survey INNER JOIN SurveyQuestionXRef xref ON xref.SurveyID = survey.SurveyID INNER JOIN SurveyQuestion q ON q.SurveyQuestionID = xref.SurveyQuestionID WHERE survey.SurveyID = '{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}' order by q.SurveyQuestionNumber ASC
SELECT p.PersonID, p.FirstName, p.MiddleName, p.LastName, p.Email, p.HomePhone, p.WorkPhone, p.OtherPhone, p.Addr1, p.Addr2, p.City, p.State, p.Zip  FROM SurveyPersonXRef xref INNER JOIN Person p ON p.PersonID = xref.PersonId WHERE xref.SurveyID = '{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}'
SELECT SurveyOtherEmailID, SurveyID, Email  FROM SurveyOtherEmail WHERE SurveyID = '{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}'
INSERT INTO SurveyResponse(ResponseID, ReplyID, SurveyQuestionID, SurveyQuestionResponse  )VALUES ('{NEW-16}', '{NEW-17}', '{C0A80001-0000-4000-8000-000000000001}', 'answer 1 of reply 4, it''s mine')
INSERT INTO SurveyResponse(ResponseID, ReplyID, SurveyQuestionID, SurveyQuestionResponse  )VALUES ('{NEW-18}', '{NEW-17}', '{C0A80001-0000-4000-8000-000000000002}', 'line one of reply 4
line two
line three')
INSERT INTO SurveyResponse(ResponseID, ReplyID, SurveyQuestionID, SurveyQuestionResponse  )VALUES ('{NEW-19}', '{NEW-17}', '{C0A80001-0000-4000-8000-000000000003}', 'answer 3 of reply 4, it''s mine')
INSERT INTO SurveyResponse(ResponseID, ReplyID, SurveyQuestionID, SurveyQuestionResponse  )VALUES ('{NEW-20}', '{NEW-17}', '{C0A80001-0000-4000-8000-000000000004}', 'answer 4 of reply 4, it''s mine')
INSERT INTO SurveyReply(ReplyID, SurveyID, ReplyEmail, ReplyDate  )VALUES ('{NEW-17}', '{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}', 'person4@example.org', '2027-04-02 09:00:04')
SELECT ReplyID, SurveyID, ReplyEmail, ReplyDate  FROM SurveyReply
SELECT ResponseID, ReplyID, SurveyQuestionID, SurveyQuestionResponse  FROM SurveyResponse
SELECT SurveyID FROM Survey
SELECT q.SurveyQuestionID, q.SurveyQuestionNumber, q.SurveyQuestionType, q.SurveyScaleMin, q.SurveyScaleMax, q.SurveyMultipleChoiceID, q.SurveyQuestion  FROM Survey survey INNER JOIN SurveyQuestionXRef xref ON xref.SurveyID = survey.SurveyID INNER JOIN SurveyQuestion q ON q.SurveyQuestionID = xref.SurveyQuestionID WHERE survey.SurveyID = '{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}' order by q.SurveyQuestionNumber ASC
